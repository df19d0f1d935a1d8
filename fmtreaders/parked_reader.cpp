#include "fmtreaders/parked_reader.hpp"

#include <sys/stat.h>

namespace kvtraj::readers {
namespace {

// The type code a caller asks for when opening a file of type `type`.
std::int32_t requested_for(std::int32_t type) {
  if (type == kTypeBinposBox) return kTypeBinpos;
  if (type >= kTypeDcd && type <= kTypeDcd64Cell) return kTypeDcd;
  if (type == kTypeTrrDouble) return kTypeTrr;
  return type;
}

}  // namespace

std::optional<FileStamp> stamp_of(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return FileStamp{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
                   static_cast<std::uint64_t>(st.st_size), st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
}

void ParkedReader::park(std::unique_ptr<FrameReader> reader, const std::string& path,
                        const FileStamp& stamp, std::int32_t type) {
  reader_ = std::move(reader);
  path_ = path;
  stamp_ = stamp;
  type_ = type;
}

std::unique_ptr<FrameReader> ParkedReader::unpark(const std::string& path, const FileStamp& stamp,
                                                  std::int32_t requested, std::int32_t& type) {
  if (!reader_ || path_ != path || !(stamp_ == stamp) || requested_for(type_) != requested) {
    return nullptr;
  }
  std::unique_ptr<FrameReader> reader = std::move(reader_);
  type = type_;
  drop();
  return reader->rewind() ? std::move(reader) : nullptr;
}

}  // namespace kvtraj::readers

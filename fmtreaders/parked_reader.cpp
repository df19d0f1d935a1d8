#include "fmtreaders/parked_reader.hpp"

#include <sys/stat.h>

namespace kvtraj::readers {
namespace {

struct Parked {
  std::unique_ptr<FrameReader> reader;
  std::string path;
  FileStamp stamp;
  std::int32_t type = kTypeNone;
};

Parked parked;

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

void park(std::unique_ptr<FrameReader> reader, const std::string& path, const FileStamp& stamp,
          std::int32_t type) {
  parked = Parked{std::move(reader), path, stamp, type};
}

std::unique_ptr<FrameReader> unpark(const std::string& path, const FileStamp& stamp,
                                    std::int32_t requested, std::int32_t& type) {
  if (!parked.reader || parked.path != path || !(parked.stamp == stamp) ||
      requested_for(parked.type) != requested) {
    return nullptr;
  }
  std::unique_ptr<FrameReader> reader = std::move(parked.reader);
  type = parked.type;
  drop_parked();
  return reader->rewind() ? std::move(reader) : nullptr;
}

void drop_parked() {
  parked = Parked{};
}

}  // namespace kvtraj::readers

#include "fmtreaders/binary_file.hpp"

#include <sys/stat.h>

#include <cstdio>

namespace kvtraj::readers {

std::optional<BinaryFile> BinaryFile::open(const std::string& path) {
  FilePtr f = open_file(path, "rb");
  if (!f) return std::nullopt;
  return BinaryFile(std::move(f));
}

bool BinaryFile::read(void* data, std::size_t bytes, std::size_t& got) {
  got = std::fread(data, 1, bytes, file_.get());
  position_ += got;
  return got == bytes;
}

bool BinaryFile::seek(std::uint64_t offset) {
  if (offset > static_cast<std::uint64_t>(INT64_MAX)) return false;
  if (::fseeko(file_.get(), static_cast<off_t>(offset), SEEK_SET) != 0) return false;
  position_ = offset;
  return true;
}

std::uint64_t BinaryFile::remaining() const {
  struct stat st {};
  if (::fstat(::fileno(file_.get()), &st) != 0 || st.st_size < 0) return 0;
  const auto size = static_cast<std::uint64_t>(st.st_size);
  return size > position_ ? size - position_ : 0;
}

}  // namespace kvtraj::readers

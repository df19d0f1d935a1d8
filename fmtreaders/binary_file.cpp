#include "fmtreaders/binary_file.hpp"
#include "support/fatal.hpp"
#include "support/fortran_input.hpp"
#include "support/system_io.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace kvtraj::readers {
namespace {

constexpr std::size_t kReadAhead = 256 * 1024;

}  // namespace

std::optional<BinaryFile> BinaryFile::open(const std::string& path) {
  const int fd = open_retrying(path.c_str(), O_RDONLY | O_CLOEXEC);
  // A missing file is the formats' to report; a file that exists and fails to open is not.
  if (fd < 0 && errno != ENOENT) die_of_errno(path, "could not be opened", errno);
  if (fd < 0) return std::nullopt;
  return BinaryFile(fd, path);
}

BinaryFile BinaryFile::over(std::span<const char> bytes) {
  return BinaryFile(bytes);
}

BinaryFile::BinaryFile(BinaryFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      name_(std::move(other.name_)),
      memory_(other.memory_),
      position_(other.position_),
      size_(other.size_),
      last_end_(other.last_end_),
      ahead_(std::move(other.ahead_)),
      ahead_start_(other.ahead_start_),
      ahead_length_(std::exchange(other.ahead_length_, 0)) {}

BinaryFile& BinaryFile::operator=(BinaryFile&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
    name_ = std::move(other.name_);
    memory_ = other.memory_;
    position_ = other.position_;
    size_ = other.size_;
    last_end_ = other.last_end_;
    ahead_ = std::move(other.ahead_);
    ahead_start_ = other.ahead_start_;
    ahead_length_ = std::exchange(other.ahead_length_, 0);
  }
  return *this;
}

BinaryFile::~BinaryFile() {
  if (fd_ >= 0) ::close(fd_);
}

std::size_t BinaryFile::read_at(std::uint64_t offset, char* out, std::size_t bytes) const {
  if (fd_ < 0) {
    if (offset >= memory_.size()) return 0;
    const std::size_t n = std::min<std::uint64_t>(bytes, memory_.size() - offset);
    std::memcpy(out, memory_.data() + offset, n);
    return n;
  }
  // A failure is not the end of the file: the formats would report a damaged file instead.
  const std::int64_t got = pread_fully(fd_, out, bytes, offset);
  if (got < 0) die_of_errno(name_, "could not be read", errno);
  return static_cast<std::size_t>(got);
}

bool BinaryFile::read(void* data, std::size_t bytes, std::size_t& got) {
  auto* out = static_cast<char*>(data);
  got = 0;
  const bool sequential = position_ == last_end_;
  while (got < bytes) {
    const std::uint64_t at = position_ + got;
    if (at >= ahead_start_ && at < ahead_start_ + ahead_length_) {  // buffered bytes
      const std::size_t offset = static_cast<std::size_t>(at - ahead_start_);
      const std::size_t n = std::min(bytes - got, ahead_length_ - offset);
      std::memcpy(out + got, ahead_.data() + offset, n);
      got += n;
    } else if (sequential && bytes - got < kReadAhead) {  // refill the read-ahead buffer
      if (ahead_.empty()) ahead_.resize(kReadAhead);
      ahead_start_ = at;
      ahead_length_ = read_at(at, ahead_.data(), kReadAhead);
      if (ahead_length_ == 0) break;
    } else {  // a jump, or a read larger than the buffer: straight into the caller's memory
      const std::size_t n = read_at(at, out + got, bytes - got);
      got += n;
      break;
    }
  }
  position_ += got;
  last_end_ = position_;
  return got == bytes;
}

bool BinaryFile::seek(std::uint64_t offset) {
  if (offset > static_cast<std::uint64_t>(INT64_MAX)) return false;
  position_ = offset;
  return true;
}

void BinaryFile::measure() {
  if (fd_ < 0) {
    size_ = memory_.size();
    return;
  }
  struct stat st {};
  const bool known = ::fstat(fd_, &st) == 0 && st.st_size >= 0;
  size_ = known ? static_cast<std::uint64_t>(st.st_size) : 0;
}

bool BinaryFile::view_ahead(std::size_t bytes, const char*& data) {
  const auto buffered = [&] {
    return position_ >= ahead_start_ && position_ + bytes <= ahead_start_ + ahead_length_;
  };
  if (!buffered()) {
    if (position_ != last_end_) return false;  // a jump outside the buffer: no read-ahead
    if (ahead_.empty()) ahead_.resize(kReadAhead);
    ahead_start_ = position_;
    ahead_length_ = read_at(position_, ahead_.data(), kReadAhead);
    if (!buffered()) return false;
  }
  data = ahead_.data() + (position_ - ahead_start_);
  position_ += bytes;
  last_end_ = position_;
  return true;
}

int BinaryFile::read_block(std::vector<char>& buffer, std::uint64_t bytes, const char*& data) {
  if (bytes < kReadAhead && view_ahead(static_cast<std::size_t>(bytes), data)) return kIoOk;
  // Blocks of varying size (XTC frames) reuse a buffer that is large enough.
  if (buffer.size() < bytes) {
    measure();
    const std::uint64_t left = remaining();
    if (left == 0) return kIoEnd;
    if (left < bytes) return kIoBadData;
    buffer = allocate_or_die<char>(bytes);
  }
  std::size_t got = 0;
  if (!read(buffer.data(), static_cast<std::size_t>(bytes), got)) {
    return got == 0 ? kIoEnd : kIoBadData;
  }
  data = buffer.data();
  return kIoOk;
}

std::uint64_t BinaryFile::skip_blocks(std::uint64_t bytes, std::uint64_t count) {
  if (bytes == 0) return 0;
  if (remaining() / bytes < count) measure();
  const std::uint64_t passed = std::min(remaining() / bytes, count);
  return seek(position_ + passed * bytes) ? passed : 0;
}

}  // namespace kvtraj::readers

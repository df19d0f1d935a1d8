#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "support/files.hpp"
#include "support/sizes.hpp"

namespace kvtraj {

std::optional<std::uint64_t> checked_mul(std::int64_t a, std::int64_t b) {
  std::uint64_t out = 0;
  if (a < 0 || b < 0 ||
      __builtin_mul_overflow(static_cast<std::uint64_t>(a), static_cast<std::uint64_t>(b), &out)) {
    return std::nullopt;
  }
  return out;
}

std::optional<std::uint64_t> checked_add(std::uint64_t a, std::uint64_t b) {
  std::uint64_t out = 0;
  if (__builtin_add_overflow(a, b, &out)) return std::nullopt;
  return out;
}

FilePtr open_file(const std::string& path, const char* mode) {
  return FilePtr(std::fopen(path.c_str(), mode));
}

bool file_exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

std::optional<std::uint64_t> file_size(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return static_cast<std::uint64_t>(st.st_size);
}

bool read_exact(std::FILE* f, void* data, std::size_t bytes) {
  return std::fread(data, 1, bytes, f) == bytes;
}

namespace {

constexpr std::size_t kOutputBuffer = std::size_t{1} << 20;

mode_t creation_mode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

}  // namespace

std::unique_ptr<ReplacingFile> ReplacingFile::create(const std::string& path) {
  struct stat st {};
  const bool exists = ::stat(path.c_str(), &st) == 0;
  if (exists && !S_ISREG(st.st_mode)) {
    std::FILE* direct = std::fopen(path.c_str(), "wb");
    if (!direct) return nullptr;
    return std::unique_ptr<ReplacingFile>(new ReplacingFile(path, "", direct));
  }
  std::string temp = path + ".tmp-XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return nullptr;
  // A replaced file keeps its permissions; a new one gets those of a plain creation.
  ::fchmod(fd, exists ? (st.st_mode & 07777) : creation_mode());
  std::FILE* file = ::fdopen(fd, "wb");
  if (!file) {
    const int err = errno;
    ::close(fd);
    ::unlink(temp.c_str());
    errno = err;
    return nullptr;
  }
  return std::unique_ptr<ReplacingFile>(new ReplacingFile(path, std::move(temp), file));
}

ReplacingFile::ReplacingFile(std::string target, std::string temp, std::FILE* file)
    : target_(std::move(target)),
      temp_(std::move(temp)),
      file_(file),
      buffer_(new char[kOutputBuffer]) {
  // Large blocks: trajectories are written frame by frame, and small writes cost a system call
  // each. (glibc ignores the size unless it is given the buffer.)
  std::setvbuf(file_, buffer_.get(), _IOFBF, kOutputBuffer);
}

ReplacingFile::~ReplacingFile() {
  if (file_) std::fclose(file_);
  if (!temp_.empty()) ::unlink(temp_.c_str());
}

bool ReplacingFile::commit() {
  std::FILE* file = file_;
  file_ = nullptr;
  bool ok = std::fflush(file) == 0 && !std::ferror(file);
  int err = errno;
  if (ok && !temp_.empty() && ::fsync(::fileno(file)) != 0) {
    ok = false;
    err = errno;
  }
  if (std::fclose(file) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (ok && !temp_.empty() && std::rename(temp_.c_str(), target_.c_str()) != 0) {
    ok = false;
    err = errno;
  }
  if (ok) temp_.clear();  // nothing left to remove
  errno = ok ? 0 : (err ? err : EIO);
  return ok;
}

}  // namespace kvtraj

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <exception>
#include <new>

#include "support/files.hpp"
#include "support/interrupts.hpp"
#include "support/sizes.hpp"
#include "support/system_io.hpp"

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

struct FileChannel {
  int fd = -1;
  std::string name;  // the file as the user named it, for messages
  int error = 0;     // errno of the first failed write or close
};

namespace {

// The stream's functions (fopencookie). A failed read is fatal here, where its reason is known,
// unless the stack is already unwinding (a stream closed on the way out).
ssize_t channel_read(void* cookie, char* data, std::size_t bytes) {
  auto* c = static_cast<FileChannel*>(cookie);
  const std::int64_t n = read_retrying(c->fd, data, bytes);
  if (n < 0 && std::uncaught_exceptions() == 0) die_of_errno(c->name, "could not be read", errno);
  return static_cast<ssize_t>(n);
}

ssize_t channel_write(void* cookie, const char* data, std::size_t bytes) {
  auto* c = static_cast<FileChannel*>(cookie);
  if (c->error == 0 && write_fully(c->fd, data, bytes)) return static_cast<ssize_t>(bytes);
  if (c->error == 0) c->error = errno;
  errno = c->error;
  return -1;
}

int channel_seek(void* cookie, off64_t* offset, int whence) {
  const off64_t at = ::lseek64(static_cast<FileChannel*>(cookie)->fd, *offset, whence);
  if (at < 0) return -1;
  *offset = at;
  return 0;
}

// Linux releases the descriptor even when close fails (EINTR included): never closed twice.
int channel_close(void* cookie) {
  auto* c = static_cast<FileChannel*>(cookie);
  const bool closed = ::close(c->fd) == 0 || errno == EINTR;
  if (!closed && c->error == 0) c->error = errno;
  const int error = c->error;
  delete c;
  errno = error;
  return error == 0 ? 0 : -1;
}

// The stream over `fd`; null with errno set when it cannot be made, the descriptor then closed.
std::FILE* open_channel(int fd, const std::string& name, const char* mode, FileChannel** out) {
  static constexpr cookie_io_functions_t kFunctions = {channel_read, channel_write, channel_seek,
                                                       channel_close};
  FileChannel* c = nullptr;
  try {
    c = new FileChannel{fd, name};
  } catch (const std::bad_alloc&) {
    ::close(fd);
    errno = ENOMEM;
    return nullptr;
  }
  std::FILE* f = ::fopencookie(c, mode, kFunctions);
  if (!f) {
    const int err = errno;
    ::close(fd);
    delete c;
    errno = err;
    return nullptr;
  }
  if (out) *out = c;
  return f;
}

}  // namespace

FilePtr open_file(const std::string& path, const char* mode) {
  const std::string m = mode;
  const bool reading = m == "r" || m == "rb";
  if (!reading && m != "w" && m != "wb") {
    errno = EINVAL;
    return nullptr;
  }
  const int flags = reading ? O_RDONLY : O_WRONLY | O_CREAT | O_TRUNC;
  const int fd = open_retrying(path.c_str(), flags | O_CLOEXEC, 0666);
  std::FILE* f = fd < 0 ? nullptr : open_channel(fd, path, mode, nullptr);
  if (!f && reading && errno != ENOENT) die_of_errno(path, "could not be opened", errno);
  return FilePtr(f);
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

// Everything that allocates is done before the temporary exists or inside `attach`, which
// cleans up after itself: no failure strands a temporary or a descriptor.
std::unique_ptr<ReplacingFile> ReplacingFile::create(const std::string& path) {
  auto file = std::unique_ptr<ReplacingFile>(new ReplacingFile(path));
  struct stat st {};
  const bool exists = ::stat(path.c_str(), &st) == 0;
  if (exists && !S_ISREG(st.st_mode)) {
    file->temp_.clear();
    const int direct = open_retrying(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    return direct >= 0 && file->attach(direct) ? std::move(file) : nullptr;
  }
  const int fd = ::mkostemp(file->temp_.data(), O_CLOEXEC);
  if (fd < 0) {
    file->temp_.clear();  // nothing was made
    return nullptr;
  }
  file->temp_slot_ = remember_temporary(file->temp_);
  // A replaced file keeps its permissions; a new one gets those of a plain creation.
  ::fchmod(fd, exists ? (st.st_mode & 07777) : creation_mode());
  return file->attach(fd) ? std::move(file) : nullptr;  // the destructor removes the temporary
}

ReplacingFile::ReplacingFile(const std::string& target)
    : target_(target), temp_(target + ".tmp-XXXXXX"), buffer_(new char[kOutputBuffer]) {}

bool ReplacingFile::attach(int fd) {
  file_ = open_channel(fd, target_, "wb", &channel_);
  if (!file_) return false;
  // Large blocks: trajectories are written frame by frame, and small writes cost a system call
  // each. (glibc ignores the size unless it is given the buffer.)
  std::setvbuf(file_, buffer_.get(), _IOFBF, kOutputBuffer);
  return true;
}

ReplacingFile::~ReplacingFile() {
  if (file_) std::fclose(file_);
  if (!temp_.empty()) ::unlink(temp_.c_str());
  forget_temporary(temp_slot_);
}

bool ReplacingFile::commit() {
  std::FILE* file = file_;
  file_ = nullptr;
  bool ok = std::fflush(file) == 0 && !std::ferror(file) && channel_->error == 0;
  int err = channel_->error != 0 ? channel_->error : errno;
  // Synced before the rename: a crash afterwards finds the complete new file or the old one.
  if (ok && !temp_.empty() && fsync_retrying(channel_->fd) != 0) {
    ok = false;
    err = errno;
  }
  channel_ = nullptr;  // released by fclose
  if (std::fclose(file) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (ok && !temp_.empty() && rename_retrying(temp_.c_str(), target_.c_str()) != 0) {
    ok = false;
    err = errno;
  }
  if (ok) temp_.clear();  // nothing left to remove
  errno = ok ? 0 : (err ? err : EIO);
  return ok;
}

}  // namespace kvtraj

#include "support/system_io.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "support/fatal.hpp"

namespace kvtraj {
namespace {

// Runs `call` again while it is interrupted before moving anything.
template <class Call>
auto retrying(Call call) {
  for (;;) {
    const auto result = call();
    if (result >= 0 || errno != EINTR) return result;
  }
}

// Moves `bytes` bytes with `step(done)` (a count or -1), continuing partial transfers. A step
// that moves nothing ends the transfer: end of file for a read, a failure for a write.
template <class Step>
std::int64_t transfer(std::size_t bytes, Step step) {
  std::size_t done = 0;
  while (done < bytes) {
    const auto n = retrying([&] { return step(done); });
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<std::int64_t>(done);
}

}  // namespace

int open_retrying(const char* path, int flags, mode_t mode) {
  return retrying([&] { return ::open(path, flags, mode); });
}

std::int64_t read_retrying(int fd, void* data, std::size_t bytes) {
  return retrying([&] { return ::read(fd, data, bytes); });
}

std::int64_t pread_fully(int fd, void* data, std::size_t bytes, std::uint64_t offset) {
  auto* out = static_cast<char*>(data);
  return transfer(bytes, [&](std::size_t done) {
    return ::pread(fd, out + done, bytes - done, static_cast<off_t>(offset + done));
  });
}

bool write_fully(int fd, const void* data, std::size_t bytes) {
  const auto* in = static_cast<const char*>(data);
  const std::int64_t n =
      transfer(bytes, [&](std::size_t done) { return ::write(fd, in + done, bytes - done); });
  if (n == static_cast<std::int64_t>(bytes)) return true;
  if (n >= 0) errno = EIO;  // a write that moved nothing and said nothing
  return false;
}

bool pwrite_fully(int fd, const void* data, std::size_t bytes, std::uint64_t offset) {
  const auto* in = static_cast<const char*>(data);
  const std::int64_t n = transfer(bytes, [&](std::size_t done) {
    return ::pwrite(fd, in + done, bytes - done, static_cast<off_t>(offset + done));
  });
  if (n == static_cast<std::int64_t>(bytes)) return true;
  if (n >= 0) errno = EIO;
  return false;
}

int fsync_retrying(int fd) {
  return retrying([&] { return ::fsync(fd); });
}

int rename_retrying(const char* from, const char* to) {
  return retrying([&] { return std::rename(from, to); });
}

void die_of_errno(const std::string& name, std::string_view what, int err) {
  die(name + ": " + std::string(what) + ": " + std::strerror(err != 0 ? err : EIO));
}

}  // namespace kvtraj

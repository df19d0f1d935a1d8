// System calls that finish their job: an interrupted call (EINTR) is made again and a partial
// transfer is continued, so that a signal or a network file system's short count never reaches
// the formats. Failures keep errno; `die_of_errno` turns one into the modules' one-line fatal
// message with the file's name and the system's reason.
//
// Threads: no state of their own.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#pragma GCC visibility push(default)  // the installed interface, exported by shared builds

namespace kvtraj {

int open_retrying(const char* path, int flags, mode_t mode = 0);
// One read of up to `bytes` bytes: the count (0 at end of file), or -1 with errno.
std::int64_t read_retrying(int fd, void* data, std::size_t bytes);
// Up to `bytes` bytes at `offset`, fewer only at end of file; -1 with errno on a failure.
std::int64_t pread_fully(int fd, void* data, std::size_t bytes, std::uint64_t offset);
// All of `bytes`, or false with errno.
bool write_fully(int fd, const void* data, std::size_t bytes);
bool pwrite_fully(int fd, const void* data, std::size_t bytes, std::uint64_t offset);
int fsync_retrying(int fd);
int rename_retrying(const char* from, const char* to);

// Dies with "NAME: WHAT: REASON", REASON the system's text for `err`.
[[noreturn]] void die_of_errno(const std::string& name, std::string_view what, int err);

}  // namespace kvtraj

#pragma GCC visibility pop

// Files: owning FILE handles, existence and size, exact reads, and output that replaces its
// target only once it is complete.
//
// The streams are the C library's FILE over our own system calls (support/system_io.hpp), so
// that interrupted calls and partial transfers are retried wherever the formats read or write.
// A read that fails is fatal at once, with the file's name and the system's reason (a format
// would otherwise take the missing bytes for a damaged file); a write that fails marks the
// stream, keeps its reason in errno and stops a ReplacingFile from being committed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#pragma GCC visibility push(default)  // the installed interface, exported by shared builds

namespace kvtraj {

// The descriptor under a stream and the first failure seen on it (files.cpp).
struct FileChannel;

struct FileCloser {
  void operator()(std::FILE* f) const noexcept { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// A stream for reading ("r", "rb") or for writing a new file ("w", "wb"); null on failure, errno
// set. A file to read that exists but cannot be opened (not ENOENT) is fatal, as a failed read.
FilePtr open_file(const std::string& path, const char* mode);
bool file_exists(const std::string& path);
// Size in bytes of a regular file, or nothing.
std::optional<std::uint64_t> file_size(const std::string& path);
// Reads exactly `bytes` bytes; false at end of file or on a read error.
bool read_exact(std::FILE* f, void* data, std::size_t bytes);

// Output that never leaves a half-written file in place of a good one: data goes to a
// temporary file beside the target, which `commit` flushes, syncs and renames onto the target.
// Targets that exist and are not regular files (devices, pipes) are written directly, since they
// cannot be replaced.
class ReplacingFile {
 public:
  // Null on failure, with errno describing it.
  static std::unique_ptr<ReplacingFile> create(const std::string& path);
  ~ReplacingFile();
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;

  std::FILE* get() const { return file_; }
  // True when every write reached the file, which was synced to the disk and now stands under
  // the target's name. On failure the target is untouched (for a regular file) and errno
  // describes the first failure.
  bool commit();

 private:
  explicit ReplacingFile(const std::string& target);
  // Wraps `fd` in the stream; false (errno set, the descriptor closed) when that fails.
  bool attach(int fd);
  std::string target_;
  std::string temp_;                // empty when writing directly to the target
  int temp_slot_ = -1;              // the temporary's entry among those a signal removes
  FileChannel* channel_ = nullptr;  // the stream's descriptor and first failure, until it is closed
  std::FILE* file_ = nullptr;
  std::unique_ptr<char[]> buffer_;  // the stream's buffer, alive until it is closed
};

}  // namespace kvtraj

#pragma GCC visibility pop

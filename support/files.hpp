// Files: owning FILE handles, existence and size, exact reads, and output that replaces its
// target only once it is complete.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#pragma GCC visibility push(default)  // the installed interface, exported by shared builds

namespace kvtraj {

struct FileCloser {
  void operator()(std::FILE* f) const noexcept { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// std::fopen with an owning result (null on failure, errno set).
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
  // The name the data goes to until `commit`: the temporary file, or the target when it is
  // written directly. For libraries that write by name (NetCDF) instead of through get().
  const std::string& data_path() const { return temp_.empty() ? target_ : temp_; }
  // True when every write reached the file and it now stands under the target's name. On
  // failure the target is untouched (for a regular file) and errno describes the failure.
  bool commit();

 private:
  ReplacingFile(std::string target, std::string temp, std::FILE* file);
  std::string target_;
  std::string temp_;  // empty when writing directly to the target
  std::FILE* file_ = nullptr;
  std::unique_ptr<char[]> buffer_;  // the stream's buffer, alive until it is closed
};

}  // namespace kvtraj

#pragma GCC visibility pop

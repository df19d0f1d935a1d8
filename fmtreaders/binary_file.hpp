// The record layer under the binary readers (DCD, binpos): a file read as raw bytes with exact
// reads, absolute seeks and its current size, so that counts read from the file can be checked
// against what the file can hold before anything is allocated or read.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "support/support.hpp"

namespace kvtraj::readers {

class BinaryFile {
 public:
  // Null when the file cannot be opened.
  static std::optional<BinaryFile> open(const std::string& path);

  // Reads exactly `bytes` bytes; false at end of file or on a read error. `got` receives the
  // number of bytes actually read.
  bool read(void* data, std::size_t bytes, std::size_t& got);
  bool read(void* data, std::size_t bytes) {
    std::size_t got = 0;
    return read(data, bytes, got);
  }
  bool seek(std::uint64_t offset);
  std::uint64_t position() const { return position_; }
  // Bytes from the current position to the end of the file as it is now.
  std::uint64_t remaining() const;

 private:
  explicit BinaryFile(FilePtr file) : file_(std::move(file)) {}
  FilePtr file_;
  std::uint64_t position_ = 0;
};

}  // namespace kvtraj::readers

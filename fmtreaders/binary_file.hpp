// The record layer under the binary readers (DCD, binpos): a file read as raw bytes at an
// explicit position, with exact reads and the file's size, so that counts read from the file can
// be checked against what the file can hold before anything is allocated or read.
//
// A read that fails (not the end of the file) is fatal, with the file's name and the system's
// reason. Reads go through positioned reads, so a seek costs nothing until the next read. A read
// that continues where the previous one ended fills a read-ahead buffer of fixed size (sequential
// reading then costs one system call per buffer, not per frame); a read after a jump reads just
// its own bytes, so random access does not pay for read-ahead it will not use.
//
// The bytes may also come from memory (`over`), so that tests and fuzz targets feed a reader
// directly; everything else behaves as for a file of those bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "support/fortran_input.hpp"

namespace kvtraj::readers {

class BinaryFile {
 public:
  // Nothing when the file does not exist; any other failure to open it is fatal.
  static std::optional<BinaryFile> open(const std::string& path);
  // Reads `bytes`, which must outlive the reader.
  static BinaryFile over(std::span<const char> bytes);
  BinaryFile(BinaryFile&& other) noexcept;
  BinaryFile& operator=(BinaryFile&& other) noexcept;
  BinaryFile(const BinaryFile&) = delete;
  BinaryFile& operator=(const BinaryFile&) = delete;
  ~BinaryFile();

  // Reads exactly `bytes` bytes; false at end of file or on a read error. `got` receives the
  // number of bytes actually read.
  bool read(void* data, std::size_t bytes, std::size_t& got);
  bool read(void* data, std::size_t bytes) {
    std::size_t got = 0;
    return read(data, bytes, got);
  }
  // Reads the next `bytes` bytes: `data` points at them, in the read-ahead buffer when they
  // are there, else in `buffer` (grown to them when it is smaller, once the file is known to
  // hold them); valid until the next read. kIoOk, kIoEnd when the file ends before them,
  // kIoBadData when it ends inside them.
  int read_block(std::vector<char>& buffer, std::uint64_t bytes, const char*& data);
  // Moves over up to `count` whole blocks of `bytes` bytes; returns how many were passed.
  std::uint64_t skip_blocks(std::uint64_t bytes, std::uint64_t count);

  // Reads exactly `bytes` bytes at `offset`, neither through the read-ahead buffer nor moving
  // the position: for small fields far apart.
  bool peek(std::uint64_t offset, void* data, std::size_t bytes) const {
    return read_at(offset, static_cast<char*>(data), bytes) == bytes;
  }

  bool seek(std::uint64_t offset);
  std::uint64_t position() const { return position_; }
  // Bytes from the current position to the end of the file as it was when last measured (at
  // open, or by `measure`).
  std::uint64_t remaining() const { return size_ > position_ ? size_ - position_ : 0; }
  // Measures the file's size again (it may have grown or shrunk since).
  void measure();

 private:
  BinaryFile(int fd, std::string name) : fd_(fd), name_(std::move(name)) { measure(); }
  explicit BinaryFile(std::span<const char> bytes) : memory_(bytes) { measure(); }
  // Points `data` at the next `bytes` bytes inside the read-ahead buffer, refilling it for a
  // sequential read; false when they cannot be served from it (a jump outside it).
  bool view_ahead(std::size_t bytes, const char*& data);
  // Positioned read of up to `bytes` bytes at `offset`, retried until done or end of file; a
  // failed read is fatal.
  std::size_t read_at(std::uint64_t offset, char* out, std::size_t bytes) const;
  int fd_ = -1;
  std::string name_;              // the file's name, for messages
  std::span<const char> memory_;  // the bytes read when there is no file
  std::uint64_t position_ = 0;
  std::uint64_t size_ = 0;
  std::uint64_t last_end_ = 0;     // where the previous read ended
  std::vector<char> ahead_;        // read-ahead buffer, allocated on first sequential read
  std::uint64_t ahead_start_ = 0;  // file offset of ahead_[0]
  std::size_t ahead_length_ = 0;   // valid bytes in ahead_
};

}  // namespace kvtraj::readers

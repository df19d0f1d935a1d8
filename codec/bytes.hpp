// Little-endian byte buffers for the coded part: a growing writer, a bounds-checked reader that
// reports damage through `die` instead of reading past its end, LEB128 varints, and bit packing
// (least significant bit first) for the frequency codes and the extra bits of large values.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kvtraj::codec {

class ByteWriter {
 public:
  template <class T>
  void put(T value) {
    std::uint8_t raw[sizeof value];
    std::memcpy(raw, &value, sizeof value);
    for (const std::uint8_t byte : raw) bytes_.push_back(byte);
  }
  void put_bytes(std::span<const std::uint8_t> data) {
    bytes_.insert(bytes_.end(), data.begin(), data.end());
  }
  void put_varint(std::uint64_t value);
  // A section of `data` preceded by its size as a 32-bit count.
  void put_sized(std::span<const std::uint8_t> data);
  std::vector<std::uint8_t>& bytes() { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
};

// Reads a byte range it does not own; every read past the end ends through `die` with
// "<what>: damaged block (<reason>)".
class ByteReader {
 public:
  ByteReader(std::span<const std::uint8_t> data, std::string_view what)
      : data_(data), what_(what) {}
  template <class T>
  T get() {
    T value;
    std::memcpy(&value, take(sizeof value).data(), sizeof value);
    return value;
  }
  std::span<const std::uint8_t> take(std::size_t bytes);
  std::uint64_t get_varint();
  // A section written by put_sized.
  std::span<const std::uint8_t> get_sized() { return take(get<std::uint32_t>()); }
  std::size_t left() const { return data_.size() - at_; }
  [[noreturn]] void damaged(std::string_view reason) const;
  std::string_view what() const { return what_; }

 private:
  std::span<const std::uint8_t> data_;
  std::size_t at_ = 0;
  std::string_view what_;
};

class BitWriter {
 public:
  void put(std::uint64_t value, int bits) {  // bits 0..56
    acc_ |= value << held_;
    held_ += bits;
    // The whole bytes at once, without a loop whose length follows the data: eight bytes are
    // stored and those complete kept (the buffer stays eight bytes ahead).
    if (bytes_.size() < size_ + 8) bytes_.resize(2 * bytes_.size() + 64);
    std::memcpy(bytes_.data() + size_, &acc_, 8);
    const int whole = held_ & ~7;
    size_ += static_cast<std::size_t>(whole >> 3);
    acc_ >>= whole;
    held_ -= whole;
  }
  // The bits so far, the last byte padded with zeros.
  std::vector<std::uint8_t> finish();

 private:
  std::vector<std::uint8_t> bytes_;
  std::size_t size_ = 0;  // bytes complete; those after are scratch
  std::uint64_t acc_ = 0;
  int held_ = 0;
};

// Reads bits written by BitWriter; past the end it reads zeros and remembers that it overran,
// which the caller reports as damage (the hot loop tests once, at the end). Small enough to be
// held by value in a decoding loop.
class BitReader {
 public:
  BitReader() = default;
  explicit BitReader(std::span<const std::uint8_t> data) : data_(data.data()), size_(data.size()) {
    refill();
  }
  std::uint64_t get(std::uint32_t bits) {  // bits 0..56
    if (held_ < bits) {
      refill();
      if (held_ < bits) {  // past the end: zeros
        overran_ = true;
        held_ = bits;
      }
    }
    const std::uint64_t v = acc_ & ((std::uint64_t{1} << bits) - 1);
    acc_ >>= bits;
    held_ -= bits;
    return v;
  }
  bool overran() const { return overran_; }

 private:
  // Fills the accumulator to at least 56 bits while the data last, a word at a time where eight
  // bytes remain. Bits above the held ones are those of the next byte, so that loading it again
  // changes nothing.
  void refill() {
    if (size_ - at_ >= 8) {
      std::uint64_t word;
      std::memcpy(&word, data_ + at_, 8);
      acc_ |= word << held_;
      at_ += (63 - held_) >> 3;
      held_ |= 56;
      return;
    }
    while (held_ <= 56 && at_ < size_) {
      acc_ |= static_cast<std::uint64_t>(data_[at_++]) << held_;
      held_ += 8;
    }
  }
  const std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t at_ = 0;
  std::uint64_t acc_ = 0;
  std::uint32_t held_ = 0;
  bool overran_ = false;
};

}  // namespace kvtraj::codec

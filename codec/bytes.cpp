// Byte and bit buffers of the coded part.
#include "codec/bytes.hpp"

#include "support/fatal.hpp"

namespace kvtraj::codec {

void ByteWriter::put_varint(std::uint64_t value) {
  while (value >= 0x80) {
    bytes_.push_back(static_cast<std::uint8_t>(value | 0x80));
    value >>= 7;
  }
  bytes_.push_back(static_cast<std::uint8_t>(value));
}

void ByteWriter::put_sized(std::span<const std::uint8_t> data) {
  put(static_cast<std::uint32_t>(data.size()));
  put_bytes(data);
}

std::span<const std::uint8_t> ByteReader::take(std::size_t bytes) {
  if (bytes > left()) damaged("it ends early");
  const auto out = data_.subspan(at_, bytes);
  at_ += bytes;
  return out;
}

std::uint64_t ByteReader::get_varint() {
  std::uint64_t value = 0;
  for (int shift = 0; shift < 64; shift += 7) {
    const std::uint8_t byte = get<std::uint8_t>();
    value |= static_cast<std::uint64_t>(byte & 0x7f) << shift;
    if ((byte & 0x80) == 0) return value;
  }
  damaged("a count is too long");
}

void ByteReader::damaged(std::string_view reason) const {
  die(std::string(what_) + ": damaged block (" + std::string(reason) + ")");
}

std::vector<std::uint8_t> BitWriter::finish() {
  bytes_.resize(size_);
  if (held_ > 0) bytes_.push_back(static_cast<std::uint8_t>(acc_));
  acc_ = 0;
  held_ = 0;
  size_ = 0;
  return std::move(bytes_);
}

}  // namespace kvtraj::codec

// The entropy coder: residuals are zigzag-mapped to unsigned values and split into a token
// (values below 16 themselves; above, the bit length and the two bits after the leading one)
// plus raw extra bits; tokens are coded with rANS (32-bit state, byte renormalisation, 12-bit
// probabilities, two states taking the values in turn) under one frequency table per context, which
// goes below one bit per value when a context is dominated by one token. Each block carries its own
// tables, stored as 6-bit logarithmic levels that both sides turn into the same frequencies with
// integer arithmetic.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "codec/bytes.hpp"

namespace kvtraj::codec {

inline constexpr int kTokens = 132;
inline constexpr int kProbBits = 12;
inline constexpr std::uint32_t kProbScale = 1u << kProbBits;

inline std::uint64_t zigzag(std::int64_t v) {
  return (static_cast<std::uint64_t>(v) << 1) ^ static_cast<std::uint64_t>(v >> 63);
}
inline std::int64_t unzigzag(std::uint64_t u) {
  return static_cast<std::int64_t>(u >> 1) ^ -static_cast<std::int64_t>(u & 1);
}

// The token of a value below 2^33, and how many extra bits follow it.
struct Token {
  int token = 0;
  int bits = 0;
  std::uint64_t extra = 0;
};
Token tokenize(std::uint64_t u);

// Frequencies (summing to kProbScale) from the 6-bit levels of a table: 0 for an absent token.
// A table whose levels are all 0 gives token 0 the whole range.
std::array<std::uint16_t, kTokens> frequencies_from_levels(std::span<const std::uint8_t> levels);

class ContextEncoder {
 public:
  explicit ContextEncoder(int contexts) : counts_(static_cast<std::size_t>(contexts)) {}
  void add(int context, std::int64_t value);
  // Appends the tables, the rANS stream and the extra bits to `out`.
  void finish(ByteWriter& out);
  // An estimate of the bits the values so far cost (tokens at their empirical entropy).
  double estimated_bits() const;

 private:
  std::vector<std::array<std::uint32_t, kTokens>> counts_;
  std::vector<std::uint16_t> symbols_;  // context * kTokens + token, in order
  std::uint64_t extra_bits_ = 0;
  BitWriter extra_;
};

class ContextDecoder {
 public:
  // Reads what ContextEncoder::finish wrote.
  ContextDecoder(ByteReader& in, int contexts);
  std::int64_t next(int context) {
    // Two states take the values in turn, so that one's table lookup overlaps the other's.
    std::uint32_t& x = state_[which_];
    which_ ^= 1;
    // The slot's bucket of 16 gives the first token that may hold it; a few steps find it.
    const Table& t = tables_[static_cast<std::size_t>(context)];
    const std::uint32_t slot = x & (kProbScale - 1);
    std::uint32_t s = t.bucket[slot >> kBucketBits];
    while (t.start[s + 1] <= slot) ++s;
    x = (t.start[s + 1] - t.start[s]) * (x >> kProbBits) + slot - t.start[s];
    if (x < kLow) renormalise(x);
    if (s < 16) return unzigzag(s);
    const int n = static_cast<int>((s - 16) / 4 + 4);
    const std::uint64_t top = 4 | ((s - 16) & 3);
    return unzigzag((top << (n - 2)) | extra_.get(n - 2));
  }
  // True when every value read came from the streams and they were used up exactly.
  bool ended_cleanly() const;

 private:
  static constexpr std::uint32_t kLow = 1u << 23;
  // Per token its first slot (start[kTokens] = kProbScale), and per bucket of 16 slots the
  // token of its first slot: small enough to stay in the first-level cache for every context.
  static constexpr int kBucketBits = 4;
  struct Table {
    std::array<std::uint16_t, kTokens + 1> start{};
    std::array<std::uint8_t, (kProbScale >> kBucketBits)> bucket{};
  };
  void renormalise(std::uint32_t& x) {
    while (x < kLow) {
      if (at_ == stream_.size()) {
        overran_ = true;
        x = kLow;
        return;
      }
      x = (x << 8) | stream_[at_++];
    }
  }
  std::vector<Table> tables_;
  std::span<const std::uint8_t> stream_;
  std::size_t at_ = 0;
  std::uint32_t state_[2] = {0, 0};
  int which_ = 0;
  bool overran_ = false;
  BitReader extra_;
};

}  // namespace kvtraj::codec

// The entropy coder: residuals are zigzag-mapped to unsigned values and split into a token
// (values below 16 themselves; above, the bit length and the two bits after the leading one)
// plus raw extra bits; tokens are coded with rANS (32-bit state, byte renormalisation, 12-bit
// probabilities, two states taking the values in turn) under one frequency table per context, which
// goes below one bit per value when a context is dominated by one token. Each block carries its own
// tables, stored as 6-bit logarithmic levels that both sides turn into the same frequencies with
// integer arithmetic.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
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
// Selected without branches, as small and large values follow the data: below 16 the same steps
// give the value itself with no extra bits.
inline Token tokenize(std::uint64_t u) {
  const int n = std::bit_width(u | 16) - 1;  // 4 and up
  const auto mantissa = static_cast<int>((u >> (n - 2)) & 3);
  const bool small = u < 16;
  const int bits = small ? 0 : n - 2;
  return {small ? static_cast<int>(u) : 16 + 4 * (n - 4) + mantissa, bits,
          u & ((std::uint64_t{1} << bits) - 1)};
}

// Frequencies (summing to kProbScale) from the 6-bit levels of a table: 0 for an absent token.
// A table whose levels are all 0 gives token 0 the whole range.
std::array<std::uint16_t, kTokens> frequencies_from_levels(std::span<const std::uint8_t> levels);

// Per token: the high bits of its value and how many extra bits follow (tokens below 16 are
// their value and have none).
struct TokenValue {
  std::uint32_t high = 0;
  std::uint32_t bits = 0;
};
inline constexpr std::array<TokenValue, kTokens> kTokenValues = [] {
  std::array<TokenValue, kTokens> t{};
  for (std::uint32_t s = 0; s < kTokens; ++s)
    t[s] = s < 16 ? TokenValue{s, 0} : TokenValue{4 | ((s - 16) & 3), (s - 16) / 4 + 2};
  return t;
}();

class ContextEncoder {
 public:
  explicit ContextEncoder(int contexts) : contexts_(static_cast<std::size_t>(contexts)) {}
  void reserve(std::size_t values) { symbols_.reserve(values); }
  void add(int context, std::int64_t value) {
    const Token t = tokenize(zigzag(value));
    symbols_.push_back(static_cast<std::uint16_t>(context * kTokens + t.token));
    extra_.put(t.extra, t.bits);
  }
  // Appends the tables, the rANS stream and the extra bits to `out`.
  void finish(ByteWriter& out);

 private:
  std::size_t contexts_;
  std::vector<std::uint16_t> symbols_;  // context * kTokens + token, in order
  BitWriter extra_;
};

class ContextDecoder {
  static constexpr std::uint32_t kLow = 1u << 23;
  static constexpr int kBucketBits = 4;

 public:
  // Per token its first slot (start[kTokens] = kProbScale), and per bucket of 16 slots the
  // token of its first slot: small enough to stay in the first-level cache for every context.
  struct Table {
    std::array<std::uint16_t, kTokens + 1> start{};
    std::array<std::uint8_t, (kProbScale >> kBucketBits)> bucket{};
  };

  // The coder's moving parts: two rANS states, the stream and the extra bits. A decoding loop
  // holds a copy by value, so that they stay in registers; reads past the end of either stream
  // are counted, never made, and ended_cleanly reports them.
  class Cursor {
   public:
    Cursor() = default;
    Cursor(std::span<const std::uint8_t> stream, std::span<const std::uint8_t> extra)
        : stream_(stream.data()), stream_size_(stream.size()), extra_(extra) {
      for (int k = 0; k < 2; ++k) {
        for (int i = 0; i < 4; ++i)
          x_[k] |= static_cast<std::uint32_t>(stream_[4 * k + i]) << (8 * i);
      }
      at_ = 8;
    }

    // True when the next `values` values cannot reach the end of the stream (a value takes at
    // most two bytes), so that next<true> may read it unchecked. The extra bits are always read
    // checked: only large tokens take them. A damaged stream may have taken the position past
    // the end already (counted reads).
    bool room_for(std::size_t values) const {
      return at_ <= stream_size_ && stream_size_ - at_ >= 2 * values + 2;
    }

    template <bool kRoom>
    std::int64_t next(const Table* tables, int context) {
      // The two states take the values in turn, so that one's table lookup overlaps the
      // other's. The slot's bucket gives the first token that may hold it; a few steps find it.
      const Table& t = tables[context];
      const std::uint32_t x = x_[0];
      const std::uint32_t slot = x & (kProbScale - 1);
      std::uint32_t s = t.bucket[slot >> kBucketBits];
      while (t.start[s + 1] <= slot) ++s;
      std::uint32_t y = (t.start[s + 1] - t.start[s]) * (x >> kProbBits) + slot - t.start[s];
      // y >= 2^11 here: one byte brings it to 2^23 unless the token is rare (frequency below
      // 16), two always. The first without a branch; past the end the last byte is read
      // again, and at_ tells.
      const std::uint32_t low = y < kLow ? 1 : 0;
      y = (y << (8 * low)) | (byte<kRoom>() & (0u - low));
      at_ += low;
      if (y < kLow) {
        y = (y << 8) | byte<kRoom>();
        ++at_;
      }
      x_[0] = x_[1];
      x_[1] = y;
      // Small tokens take no extra bits: the same steps, without a branch on the token.
      const TokenValue v = kTokenValues[s];
      return unzigzag((std::uint64_t{v.high} << v.bits) | extra_.get(v.bits));
    }
    std::int64_t next(const Table* tables, int context) { return next<false>(tables, context); }
    bool ended_cleanly() const {
      return !extra_.overran() && x_[0] == kLow && x_[1] == kLow && at_ == stream_size_;
    }

   private:
    template <bool kRoom>
    std::uint32_t byte() const {
      return stream_[kRoom ? at_ : std::min(at_, stream_size_ - 1)];
    }
    std::uint32_t x_[2] = {0, 0};
    const std::uint8_t* stream_ = nullptr;
    std::size_t stream_size_ = 0;
    std::size_t at_ = 0;
    BitReader extra_;
  };

  // Reads what ContextEncoder::finish wrote.
  ContextDecoder(ByteReader& in, int contexts);
  std::int64_t next(int context) { return cursor_.next(tables_.data(), context); }
  // True when every value read came from the streams and they were used up exactly.
  bool ended_cleanly() const { return cursor_.ended_cleanly(); }
  // For loops that decode with their own copy of the cursor and hand it back at the end.
  const Table* tables() const { return tables_.data(); }
  Cursor& cursor() { return cursor_; }

 private:
  std::vector<Table> tables_;
  Cursor cursor_;
};

}  // namespace kvtraj::codec

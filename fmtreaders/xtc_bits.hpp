// What the XTC decoder and encoder share inside the codec: the table of size classes and the
// packing of three bounded integers into one number.
#pragma once

#include <array>
#include <cstdint>

namespace kvtraj::xtc::bits {

// 128-bit arithmetic for packed numbers of up to 72 bits (three axes of up to 24 bits).
__extension__ using Wide = unsigned __int128;

// Size class i holds differences below table[i]; table[i]^3 stays below 2^i, so a triple of
// class i packs into i bits. Classes below kFirstClass are unused.
inline constexpr std::array<std::uint32_t, 73> kClassSizes = {
    0,        0,        0,       0,       0,       0,       0,       0,       0,       8,
    10,       12,       16,      20,      25,      32,      40,      50,      64,      80,
    101,      128,      161,     203,     256,     322,     406,     512,     645,     812,
    1024,     1290,     1625,    2048,    2580,    3250,    4096,    5060,    6501,    8192,
    10321,    13003,    16384,   20642,   26007,   32768,   41285,   52015,   65536,   82570,
    104031,   131072,   165140,  208063,  262144,  330280,  416127,  524287,  660561,  832255,
    1048576,  1321122,  1664510, 2097152, 2642245, 3329021, 4194304, 5284491, 6658042, 8388607,
    10568983, 13316085, 16777216};
inline constexpr std::int32_t kFirstClass = 9;
inline constexpr std::int32_t kClassCount = static_cast<std::int32_t>(kClassSizes.size());

// Axis ranges above this are written as three separate fields instead of one packed number.
inline constexpr std::uint32_t kMaxPackedRange = 0xffffff;

// Bits needed to hold `size` (0 for 0).
inline int bit_length(Wide size) {
  int n = 0;
  while (size != 0) {
    ++n;
    size >>= 1;
  }
  return n;
}

// Bits of the packed number of three values below sizes[0..2] (each at most kMaxPackedRange).
inline int packed_bits(const std::array<std::uint32_t, 3>& sizes) {
  return bit_length(Wide{sizes[0]} * sizes[1] * sizes[2]);
}

// A packed number goes into the stream lowest byte first, 8 bits at a time, the last chunk 1..8
// bits. Up to 56 bits that is one n-bit field holding the number with its bytes reversed, which
// the bit reader and writer handle in one step; these convert between the two orders.
inline std::uint64_t to_stream_order(std::uint64_t v, int n) {
  const int full = (n - 1) / 8, last = n - 8 * full;
  const std::uint64_t low = full == 0 ? 0 : __builtin_bswap64(v) >> (64 - 8 * full);
  return (low << last) | (v >> (8 * full));
}

inline std::uint64_t from_stream_order(std::uint64_t x, int n) {
  const int full = (n - 1) / 8, last = n - 8 * full;
  const std::uint64_t low = full == 0 ? 0 : __builtin_bswap64((x >> last) << (64 - 8 * full));
  return low | ((x & ((std::uint64_t{1} << last) - 1)) << (8 * full));
}

}  // namespace kvtraj::xtc::bits

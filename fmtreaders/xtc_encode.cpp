// Encoder of the XTC coordinate codec. It makes the same choices as the GROMACS writer (rounding,
// starting size class, when to swap a pair, when to change class), so equal input gives equal
// bytes.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "fmtreaders/xtc_bits.hpp"
#include "fmtreaders/xtc_codec.hpp"

namespace kvtraj::xtc {
namespace {

using bits::kClassSizes;
using bits::Wide;

constexpr double kMaxAbs = INT_MAX - 2;  // largest |coordinate × precision| the format takes

// Appends bits first bit highest to a byte vector, grown once by an upper bound of the stream
// (`max_bytes`) and trimmed at the end, so that a byte costs a store, not a push_back.
class BitWriter {
 public:
  BitWriter(std::vector<unsigned char>& out, std::size_t max_bytes)
      : out_(out), start_(out.size()) {
    out_.resize(start_ + max_bytes);
    p_ = out_.data() + start_;
  }

  // The low n bits (0..56) of v.
  void put(int n, std::uint64_t v) {
    window_ = (window_ << n) | (v & ((std::uint64_t{1} << n) - 1));
    count_ += n;
    while (count_ >= 8) {
      count_ -= 8;
      *p_++ = static_cast<unsigned char>(window_ >> count_);
    }
  }
  // v in n bits, lowest byte first, 8 bits at a time, the last chunk 1..8 bits.
  template <class U>
  void put_packed(int n, U v) {
    if (n <= 56) return put(n, bits::to_stream_order(static_cast<std::uint64_t>(v), n));
    for (; n > 8; n -= 8, v >>= 8) put(8, static_cast<std::uint64_t>(v & 0xff));
    put(n, static_cast<std::uint64_t>(v));
  }
  // Writes out a last partial byte, zero-filled, trims the vector; the stream's length.
  std::size_t finish() {
    if (count_ > 0) *p_++ = static_cast<unsigned char>(window_ << (8 - count_));
    count_ = 0;
    const auto bytes = static_cast<std::size_t>(p_ - (out_.data() + start_));
    out_.resize(start_ + bytes);
    return bytes;
  }

 private:
  std::vector<unsigned char>& out_;
  std::size_t start_;
  unsigned char* p_ = nullptr;
  std::uint64_t window_ = 0;
  int count_ = 0;
};

void put_triple(BitWriter& out, int nbits, const std::array<std::uint32_t, 3>& sizes,
                const std::uint32_t* v) {
  if (nbits <= 64) {
    out.put_packed(nbits, (std::uint64_t{v[0]} * sizes[1] + v[1]) * sizes[2] + v[2]);
  } else {
    out.put_packed(nbits, (Wide{v[0]} * sizes[1] + v[1]) * sizes[2] + v[2]);
  }
}

std::int64_t gap(std::int32_t a, std::int32_t b) {
  return std::llabs(std::int64_t{a} - b);
}

// a and b within `bound` of each other on every axis.
bool near(const std::int32_t* a, const std::int32_t* b, std::int64_t bound) {
  return gap(a[0], b[0]) < bound && gap(a[1], b[1]) < bound && gap(a[2], b[2]) < bound;
}

std::uint32_t half_of(std::int32_t cls) {
  return kClassSizes[static_cast<std::size_t>(cls)] / 2;
}

// The coordinates on the grid, their per-axis bounds and the smallest step between
// neighbours (which sets the starting size class).
struct Grid {
  std::array<std::int32_t, 3> minint{INT_MAX, INT_MAX, INT_MAX};
  std::array<std::int32_t, 3> maxint{INT_MIN, INT_MIN, INT_MIN};
  std::int64_t mindiff = INT_MAX;
};

bool to_grid(std::span<const float> coords, float precision, std::vector<std::int32_t>& ints,
             Grid& g) {
  ints.resize(coords.size());
  for (std::size_t k = 0; k < coords.size(); ++k) {
    // Rounded as GROMACS does: the product in float, half added in double, kept as float.
    const float scaled = coords[k] * precision;
    const auto lf = static_cast<float>(scaled >= 0.0f ? scaled + 0.5 : scaled - 0.5);
    if (!(std::fabs(lf) <= kMaxAbs)) return false;
    const auto v = static_cast<std::int32_t>(lf);
    const std::size_t d = k % 3;
    g.minint[d] = std::min(g.minint[d], v);
    g.maxint[d] = std::max(g.maxint[d], v);
    ints[k] = v;
  }
  for (std::size_t k = 3; k < ints.size(); k += 3) {
    const std::int64_t diff =
        gap(ints[k], ints[k - 3]) + gap(ints[k + 1], ints[k - 2]) + gap(ints[k + 2], ints[k - 1]);
    g.mindiff = std::min(g.mindiff, diff);
  }
  for (std::size_t d = 0; d < 3; ++d) {
    const float range =
        static_cast<float>(g.maxint[d]) - static_cast<float>(g.minint[d]);  // as GROMACS checks
    if (range >= static_cast<float>(kMaxAbs)) return false;
  }
  return true;
}

// At most 96 bits for a full atom and 6 for its run flag, or at most 72 for a small one.
constexpr std::size_t kMaxBytesPerAtom = 13;

// Appends the stream of the atoms in `ints` (modified: swapped pairs) to out.
class StreamWriter {
 public:
  StreamWriter(std::vector<std::int32_t>& ints, const Grid& g, std::vector<unsigned char>& out)
      : ints_(ints), g_(g), out_(out, kMaxBytesPerAtom * (ints.size() / 3) + 1) {
    for (std::size_t d = 0; d < 3; ++d) {
      sizes_[d] = static_cast<std::uint32_t>(g.maxint[d] - g.minint[d]) + 1;
    }
    separate_ = (sizes_[0] | sizes_[1] | sizes_[2]) > bits::kMaxPackedRange;
    packed_bits_ = separate_ ? 0 : bits::packed_bits(sizes_);
  }

  std::int32_t first_class() const {
    std::int32_t cls = bits::kFirstClass;
    while (cls < bits::kClassCount - 1 && kClassSizes[static_cast<std::size_t>(cls)] < g_.mindiff) {
      ++cls;
    }
    return cls;
  }

  // Writes the atoms starting from size class `cls`; the stream's length in bytes.
  std::size_t write(std::int32_t cls);

 private:
  void put_full(const std::int32_t* c) {
    std::uint32_t offset[3];
    for (std::size_t d = 0; d < 3; ++d) {
      offset[d] = static_cast<std::uint32_t>(c[d]) - static_cast<std::uint32_t>(g_.minint[d]);
    }
    if (separate_) {
      for (std::size_t d = 0; d < 3; ++d) out_.put(bits::bit_length(sizes_[d]), offset[d]);
    } else {
      put_triple(out_, packed_bits_, sizes_, offset);
    }
  }

  std::vector<std::int32_t>& ints_;
  const Grid& g_;
  BitWriter out_;
  std::array<std::uint32_t, 3> sizes_{};
  bool separate_ = false;
  int packed_bits_ = 0;
};

std::size_t StreamWriter::write(std::int32_t cls) {
  const auto natoms = static_cast<std::int64_t>(ints_.size() / 3);
  const std::int32_t maxidx = std::min(bits::kClassCount - 1, cls + 8);
  const std::int32_t minidx = maxidx - 8;
  std::int64_t smaller = half_of(std::max(bits::kFirstClass, cls - 1));
  std::int64_t smallnum = half_of(cls);
  const std::int64_t larger = half_of(maxidx);
  std::int64_t prevrun = -1;
  std::int32_t prev[3] = {0, 0, 0};
  std::uint32_t small[24];
  for (std::int64_t i = 0; i < natoms;) {
    std::int32_t* cur = ints_.data() + 3 * i;
    int step = 0;
    if (cls < maxidx && i >= 1 && near(cur, prev, larger)) {
      step = 1;
    } else if (cls > minidx) {
      step = -1;
    }
    bool is_small = false;
    if (i + 1 < natoms && near(cur, cur + 3, smallnum)) {
      for (int d = 0; d < 3; ++d) std::swap(cur[d], cur[d + 3]);  // helps water
      is_small = true;
    }
    put_full(cur);
    std::copy(cur, cur + 3, prev);
    ++i;
    cur += 3;
    int run = 0;
    if (!is_small && step == -1) step = 0;
    while (is_small && run < 24) {
      std::int64_t dist2 = 0;
      for (int d = 0; d < 3; ++d) dist2 += (std::int64_t{cur[d]} - prev[d]) * (cur[d] - prev[d]);
      if (step == -1 && dist2 >= smaller * smaller) step = 0;
      for (int d = 0; d < 3; ++d) {
        small[run++] = static_cast<std::uint32_t>(cur[d] - prev[d] + smallnum);
      }
      std::copy(cur, cur + 3, prev);
      ++i;
      cur += 3;
      is_small = i < natoms && near(cur, prev, smallnum);
    }
    if (run != prevrun || step != 0) {
      prevrun = run;
      out_.put(1, 1);
      out_.put(5, static_cast<std::uint32_t>(run + step + 1));
    } else {
      out_.put(1, 0);
    }
    const std::array<std::uint32_t, 3> sizes{kClassSizes[static_cast<std::size_t>(cls)],
                                             kClassSizes[static_cast<std::size_t>(cls)],
                                             kClassSizes[static_cast<std::size_t>(cls)]};
    for (int k = 0; k < run; k += 3) put_triple(out_, cls, sizes, small + k);
    if (step != 0) {
      cls += step;
      if (step < 0) {
        smallnum = smaller;
        smaller = cls > bits::kFirstClass ? half_of(cls - 1) : 0;
      } else {
        smaller = smallnum;
        smallnum = half_of(cls);
      }
    }
  }
  return out_.finish();
}

}  // namespace

bool Encoder::encode(std::span<const float> coords, float precision,
                     std::vector<unsigned char>& out) {
  Grid grid;
  if (coords.size() < 3 || !to_grid(coords, precision, ints_, grid)) return false;
  const std::size_t header = out.size();
  out.resize(header + kBlockHeaderBytes);  // filled once the stream's length is known
  StreamWriter writer(ints_, grid, out);
  const std::int32_t cls = writer.first_class();
  const std::size_t bytes = writer.write(cls);
  out.resize(out.size() + (4 - bytes % 4) % 4, 0);

  std::uint32_t fields[9] = {};
  std::memcpy(&fields[0], &precision, sizeof precision);
  for (std::size_t d = 0; d < 3; ++d) {
    fields[1 + d] = static_cast<std::uint32_t>(grid.minint[d]);
    fields[4 + d] = static_cast<std::uint32_t>(grid.maxint[d]);
  }
  fields[7] = static_cast<std::uint32_t>(cls);
  fields[8] = static_cast<std::uint32_t>(bytes);
  for (std::size_t k = 0; k < 9; ++k) store_be32(fields[k], out.data() + header + 4 * k);
  return true;
}

}  // namespace kvtraj::xtc

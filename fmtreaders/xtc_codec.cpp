// Block header and decoder of the XTC coordinate codec.
#include <cmath>
#include <cstring>

#include "fmtreaders/xtc_bits.hpp"
#include "fmtreaders/xtc_codec.hpp"

namespace kvtraj::xtc {
namespace {

using bits::kClassSizes;
using bits::Wide;

// Reads a big-endian bit stream through a 64-bit window. Past the end of the stream it reads
// zeros and counts the bits taken, so a stream that runs short is found once, at the end,
// instead of by a test per field.
class BitReader {
 public:
  BitReader(const unsigned char* data, std::size_t bytes)
      : p_(data), end_(data + bytes), limit_(8 * static_cast<std::uint64_t>(bytes)) {
    refill();
  }

  // The next n bits (1..56), first bit highest.
  std::uint64_t take(int n) {
    if (count_ < n) refill();
    const std::uint64_t v = window_ >> (64 - n);
    window_ <<= n;
    count_ -= n;
    taken_ += static_cast<std::uint64_t>(n);
    return v;
  }

  // A number written lowest byte first, 8 bits at a time, the last chunk 1..8 bits.
  template <class U>
  U take_packed(int n) {
    U v = 0;
    int shift = 0;
    for (; n > 8; n -= 8, shift += 8) v |= U{take(8)} << shift;
    return v | (U{take(n)} << shift);
  }

  bool overran() const { return taken_ > limit_; }

 private:
  // Tops the window up to at least 56 valid bits.
  void refill() {
    if (end_ - p_ >= 8) {
      std::uint64_t w = 0;
      for (int k = 0; k < 8; ++k) w = (w << 8) | p_[k];
      window_ |= w >> count_;
      const int bytes = (63 - count_) >> 3;
      p_ += bytes;
      count_ += 8 * bytes;
      return;
    }
    while (count_ <= 56) {
      const std::uint64_t byte = p_ < end_ ? *p_++ : 0;
      window_ |= byte << (56 - count_);
      count_ += 8;
    }
  }

  const unsigned char* p_;
  const unsigned char* end_;
  std::uint64_t limit_;
  std::uint64_t window_ = 0;
  int count_ = 0;  // valid bits at the top of window_
  std::uint64_t taken_ = 0;
};

// The three values packed into v (v = (a × sizes[1] + b) × sizes[2] + c).
template <class U>
void unpack(U v, const std::array<std::uint32_t, 3>& sizes, std::uint32_t* out) {
  out[2] = static_cast<std::uint32_t>(v % sizes[2]);
  v /= sizes[2];
  out[1] = static_cast<std::uint32_t>(v % sizes[1]);
  out[0] = static_cast<std::uint32_t>(v / sizes[1]);
}

void take_triple(BitReader& in, int nbits, const std::array<std::uint32_t, 3>& sizes,
                 std::uint32_t* out) {
  if (nbits > 56) return unpack(in.take_packed<Wide>(nbits), sizes, out);
  const std::uint64_t v = bits::from_stream_order(in.take(nbits), nbits);
  if (nbits <= 32) {
    unpack(static_cast<std::uint32_t>(v), sizes, out);  // 32-bit division is cheaper
  } else {
    unpack(v, sizes, out);
  }
}

// The running state of small differences: the size class and the bounds derived from it.
struct SmallClass {
  std::int32_t index = 0;
  std::uint32_t half = 0;  // differences are stored shifted up by this
  std::array<std::uint32_t, 3> sizes{};

  bool set(std::int32_t i) {
    if (i < bits::kFirstClass || i >= bits::kClassCount) return false;
    index = i;
    half = kClassSizes[static_cast<std::size_t>(i)] / 2;
    sizes.fill(kClassSizes[static_cast<std::size_t>(i)]);
    return true;
  }
};

class Decoder {
 public:
  Decoder(const BlockHeader& h, const unsigned char* data, float scale, std::span<float> out)
      : in_(data, h.bytes), inv_(1.0f / h.precision), scale_(scale), out_(out.data()) {
    for (std::size_t d = 0; d < 3; ++d) {
      minint_[d] = static_cast<std::uint32_t>(h.minint[d]);
      sizes_[d] = static_cast<std::uint32_t>(h.maxint[d]) - minint_[d] + 1;
    }
    separate_ = (sizes_[0] | sizes_[1] | sizes_[2]) > bits::kMaxPackedRange;
    for (std::size_t d = 0; d < 3; ++d) field_bits_[d] = bits::bit_length(sizes_[d]);
    if (!separate_) packed_bits_ = bits::packed_bits(sizes_);
  }

  bool run(std::int32_t smallidx, std::int32_t natoms);

 private:
  void emit(const std::uint32_t* c) {
    for (int d = 0; d < 3; ++d) {
      *out_++ = static_cast<float>(static_cast<std::int32_t>(c[d])) * inv_ * scale_;
    }
  }
  void take_full(std::uint32_t* c) {
    if (separate_) {
      for (std::size_t d = 0; d < 3; ++d) {
        c[d] = static_cast<std::uint32_t>(in_.take(field_bits_[d]));  // sizes >= 1: 1..32 bits
      }
    } else {
      take_triple(in_, packed_bits_, sizes_, c);
    }
    for (std::size_t d = 0; d < 3; ++d) c[d] += minint_[d];
  }

  BitReader in_;
  float inv_ = 1.0f;
  float scale_ = 1.0f;
  float* out_;
  std::array<std::uint32_t, 3> minint_{}, sizes_{};
  std::array<int, 3> field_bits_{};
  bool separate_ = false;
  int packed_bits_ = 0;
};

// The size class of small differences moves by `step` after each group; only the class itself
// matters for decoding (the writer also tracks a bound for moving down).
bool Decoder::run(std::int32_t smallidx, std::int32_t natoms) {
  SmallClass small;
  if (!small.set(smallidx)) return false;
  std::uint32_t run = 0;  // kept from group to group until a flag changes it
  for (std::int32_t i = 0; i < natoms;) {
    std::uint32_t prev[3], cur[3];
    take_full(prev);
    ++i;
    int step = 0;
    if (in_.take(1) != 0) {
      const auto code = static_cast<std::uint32_t>(in_.take(5));
      step = static_cast<int>(code % 3) - 1;
      run = code - code % 3;
    }
    if (static_cast<std::int64_t>(run / 3) > natoms - i) return false;
    for (std::uint32_t k = 0; k < run; k += 3, ++i) {
      take_triple(in_, small.index, small.sizes, cur);
      for (int d = 0; d < 3; ++d) cur[d] += prev[d] - small.half;
      emit(cur);
      if (k == 0) emit(prev);  // the writer swapped the first pair of a run
      std::memcpy(prev, cur, sizeof prev);
    }
    if (run == 0) emit(prev);
    if (step != 0 && !small.set(small.index + step)) return false;
    if (in_.overran()) return false;
  }
  return true;
}

}  // namespace

std::uint32_t load_be32(const unsigned char* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         std::uint32_t{p[3]};
}

void store_be32(std::uint32_t v, unsigned char* p) {
  for (int k = 3; k >= 0; --k, v >>= 8) p[k] = static_cast<unsigned char>(v & 0xff);
}

float load_be_float(const unsigned char* p) {
  const std::uint32_t raw = load_be32(p);
  float v = 0.0f;
  std::memcpy(&v, &raw, sizeof v);
  return v;
}

std::string_view describe(BlockFault fault) {
  switch (fault) {
    case BlockFault::none:
      break;
    case BlockFault::precision:
      return "bad precision";
    case BlockFault::range:
      return "bad coordinate range";
    case BlockFault::size_class:
      return "bad size class";
    case BlockFault::short_stream:
      return "byte count too small for the atom count";
  }
  return {};
}

BlockFault parse_block_header(const unsigned char* p, std::int32_t natoms, BlockHeader& h) {
  h.precision = load_be_float(p);
  for (std::size_t d = 0; d < 3; ++d) {
    h.minint[d] = static_cast<std::int32_t>(load_be32(p + 4 + 4 * d));
    h.maxint[d] = static_cast<std::int32_t>(load_be32(p + 16 + 4 * d));
  }
  h.smallidx = static_cast<std::int32_t>(load_be32(p + 28));
  h.bytes = load_be32(p + 32);
  if (!std::isfinite(h.precision) || h.precision <= 0.0f) return BlockFault::precision;
  for (std::size_t d = 0; d < 3; ++d) {
    const std::int64_t range = std::int64_t{h.maxint[d]} - h.minint[d];
    if (range < 0 || range >= INT32_MAX) return BlockFault::range;
  }
  if (h.smallidx < bits::kFirstClass || h.smallidx >= bits::kClassCount) {
    return BlockFault::size_class;
  }
  // Every atom costs at least two bits: a full atom of one bit and its run flag.
  if (static_cast<std::uint64_t>(natoms) > 4 * static_cast<std::uint64_t>(h.bytes)) {
    return BlockFault::short_stream;
  }
  return BlockFault::none;
}

bool decode(const BlockHeader& h, const unsigned char* bits, std::int32_t natoms, float scale,
            std::span<float> out) {
  if (natoms < 1 || out.size() < 3 * static_cast<std::size_t>(natoms)) return false;
  Decoder decoder(h, bits, scale, out);
  return decoder.run(h.smallidx, natoms);
}

}  // namespace kvtraj::xtc

#include "fmtreaders/trr_header.hpp"

#include <array>
#include <bit>
#include <cstring>

namespace kvtraj::readers {
namespace {

constexpr std::uint32_t kMaxVersionBytes = 128;
constexpr std::size_t kSizeInts = 13;

static_assert(std::endian::native == std::endian::little,
              "TRR decoding assumes a little-endian host");

std::uint32_t big32(const char* p) {
  std::uint32_t v = 0;
  std::memcpy(&v, p, sizeof v);
  return __builtin_bswap32(v);
}

std::uint64_t big64(const char* p) {
  std::uint64_t v = 0;
  std::memcpy(&v, p, sizeof v);
  return __builtin_bswap64(v);
}

// The real size that a block of `bytes` bytes holding `count` reals implies: 0 for an empty
// block, -1 for a size that fits neither precision.
int real_size_of(std::uint64_t bytes, std::uint64_t count) {
  if (bytes == 0) return 0;
  if (bytes == 4 * count) return 4;
  if (bytes == 8 * count) return 8;
  return -1;
}

// Checks the thirteen ints of a header (in file order) and fills the block sizes.
bool take_sizes(const std::array<std::int32_t, kSizeInts>& s, TrrHeader& h) {
  for (std::size_t i = 0; i < 10; ++i) {
    if (s[i] < 0) return false;
  }
  if (s[0] != 0 || s[1] != 0 || s[5] != 0 || s[6] != 0 || s[10] < 1) return false;
  h.natoms = s[10];
  h.step = s[11];
  const auto reals3n = 3 * static_cast<std::uint64_t>(h.natoms);
  const std::array<int, 6> implied = {real_size_of(s[2], 9),       real_size_of(s[3], 9),
                                      real_size_of(s[4], 9),       real_size_of(s[7], reals3n),
                                      real_size_of(s[8], reals3n), real_size_of(s[9], reals3n)};
  for (const int r : implied) {
    if (r < 0 || (r > 0 && h.real_bytes > 0 && r != h.real_bytes)) return false;
    if (r > 0) h.real_bytes = r;
  }
  if (h.real_bytes == 0) return false;  // no block at all: the precision cannot be told
  h.box = static_cast<std::uint64_t>(s[2]);
  h.vir = static_cast<std::uint64_t>(s[3]);
  h.pres = static_cast<std::uint64_t>(s[4]);
  h.x = static_cast<std::uint64_t>(s[7]);
  h.v = static_cast<std::uint64_t>(s[8]);
  h.f = static_cast<std::uint64_t>(s[9]);
  return true;
}

}  // namespace

double big_real(const char* p, int real_bytes) {
  if (real_bytes == 4) return std::bit_cast<float>(big32(p));
  return std::bit_cast<double>(big64(p));
}

void decode_reals(const char* p, int real_bytes, std::size_t n, double scale,
                  std::span<float> out) {
  if (real_bytes == 4) {
    const auto s = static_cast<float>(scale);
    for (std::size_t i = 0; i < n; ++i) out[i] = std::bit_cast<float>(big32(p + 4 * i)) * s;
  } else {
    for (std::size_t i = 0; i < n; ++i) {
      out[i] = static_cast<float>(std::bit_cast<double>(big64(p + 8 * i)) * scale);
    }
  }
}

int read_trr_header(BinaryFile& file, int real_bytes, TrrHeader& h) {
  char lead[12];
  std::size_t got = 0;
  if (!file.read(lead, sizeof lead, got)) return got == 0 ? kIoEnd : kIoBadData;
  const std::uint32_t version = big32(lead + 8);
  if (static_cast<std::int32_t>(big32(lead)) != kTrrMagic || version > kMaxVersionBytes) {
    return kIoBadData;
  }
  const std::uint32_t padded = (version + 3) / 4 * 4;
  std::array<char, kMaxVersionBytes + 4 * kSizeInts> rest{};
  if (!file.read(rest.data(), padded + 4 * kSizeInts)) return kIoBadData;
  std::array<std::int32_t, kSizeInts> sizes{};
  for (std::size_t i = 0; i < kSizeInts; ++i) {
    sizes[i] = static_cast<std::int32_t>(big32(rest.data() + padded + 4 * i));
  }
  h.real_bytes = real_bytes;
  if (!take_sizes(sizes, h)) return kIoBadData;
  // The time and lambda reals close the header.
  char stamps[16];
  if (!file.read(stamps, 2 * static_cast<std::size_t>(h.real_bytes))) return kIoBadData;
  h.time = big_real(stamps, h.real_bytes);
  h.lambda = big_real(stamps + h.real_bytes, h.real_bytes);
  return kIoOk;
}

bool wrong_trr_magic(BinaryFile& file) {
  char magic[4] = {};
  std::size_t got = 0;
  file.seek(0);
  file.read(magic, sizeof magic, got);
  file.seek(0);
  return got == 4 && static_cast<std::int32_t>(big32(magic)) != kTrrMagic;
}

}  // namespace kvtraj::readers

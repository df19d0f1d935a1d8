// GROMACS TRR trajectories (full precision), XDR big-endian. Each frame opens with a header:
// the magic 1993, the version string (an int, then an XDR string: its length and its bytes
// padded to 4), thirteen ints — sizes in bytes of the input record, energies, box, virial,
// pressure, topology, symmetry, coordinates, velocities and forces, then natoms, step and nre —
// and the time and lambda as reals. The blocks whose sizes are not zero follow: box (3 × 3
// reals), virial, pressure, coordinates, velocities, forces (3 × natoms reals each). The input
// record, energies, topology and symmetry blocks are never written by GROMACS; a header that
// claims one is refused.
//
// Reals are 4 or 8 bytes (a single or double precision GROMACS) and nothing but the block sizes
// tells which: every non-zero size must divide to the same real size, which must then hold for
// the whole file. Coordinates are nm and are handed over in Å; the box (three vectors, nm) goes
// out as a, b, c (Å) and alpha, beta, gamma (degrees).
//
// GROMACS writes velocities and forces at their own intervals, so frames may lack coordinates.
// Such frames are passed over: the frames of this reader are the file's frames with
// coordinates. Sizes come from the untrusted header and are checked against natoms and the file's
// size before anything is read.
#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "fmtreaders/binary_file.hpp"
#include "fmtreaders/gromacs_box.hpp"
#include "fmtreaders/readers.hpp"
#include "support/messages.hpp"

namespace kvtraj::readers {
namespace {

constexpr std::int32_t kMagic = 1993;
constexpr const char* kBadHeader = "Error - bad header in trr file";
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

double big_real(const char* p, int real_bytes) {
  if (real_bytes == 4) return std::bit_cast<float>(big32(p));
  return std::bit_cast<double>(big64(p));
}

// The sizes of one frame's header and blocks, checked against each other.
struct FrameHeader {
  std::uint64_t box = 0, vir = 0, pres = 0, x = 0, v = 0, f = 0;
  std::int32_t natoms = 0;
  int real_bytes = 0;

  std::uint64_t data_bytes() const { return box + vir + pres + x + v + f; }
  // Bytes from the end of the header to the end of the coordinates.
  std::uint64_t through_x() const { return box + vir + pres + x; }
};

// The real size that a block of `bytes` bytes holding `count` reals implies: 0 for an empty
// block, -1 for a size that fits neither precision.
int real_size_of(std::uint64_t bytes, std::uint64_t count) {
  if (bytes == 0) return 0;
  if (bytes == 4 * count) return 4;
  if (bytes == 8 * count) return 8;
  return -1;
}

// Checks the thirteen ints of a header (in file order) and fills the block sizes.
bool take_sizes(const std::array<std::int32_t, kSizeInts>& s, FrameHeader& h) {
  for (std::size_t i = 0; i < 10; ++i) {
    if (s[i] < 0) return false;
  }
  if (s[0] != 0 || s[1] != 0 || s[5] != 0 || s[6] != 0 || s[10] < 1) return false;
  h.natoms = s[10];
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

class TrrReader final : public FixedAtomsReader {
 public:
  explicit TrrReader(BinaryFile file) : file_(std::move(file)) {}

  // Reads the first header: true with the file's natoms and precision taken and the file put
  // back before its first frame, or false with the reason reported.
  bool open();
  int read(std::int32_t natoms, std::span<float> coords, std::span<float> box) override;
  std::int64_t skip(std::int32_t natoms, std::int64_t count) override;
  bool rewind() override {
    cut_ = false;
    return file_.seek(0);
  }
  bool cut_inside_frame() const override { return cut_; }
  bool has_box() const override { return box_; }
  bool double_precision() const { return real_bytes_ == 8; }

 private:
  // Reads the next frame header: kIoOk, kIoEnd at a clean end of file, kIoBadData for a
  // header that is cut, malformed or disagrees with the file's natoms and precision.
  int next_header(FrameHeader& h);
  int read_header_fields(FrameHeader& h);
  // Whether the blocks of `h` lie inside the file; marks the file as cut when they do not.
  bool blocks_fit(const FrameHeader& h);
  void decode(const FrameHeader& h, const char* p, std::span<float> coords,
              std::span<float> box) const;

  BinaryFile file_;
  int real_bytes_ = 0;
  bool box_ = false;
  bool cut_ = false;
  std::vector<char> frame_;
};

int TrrReader::read_header_fields(FrameHeader& h) {
  char lead[12];
  std::size_t got = 0;
  if (!file_.read(lead, sizeof lead, got)) return got == 0 ? kIoEnd : kIoBadData;
  const std::uint32_t version = big32(lead + 8);
  if (static_cast<std::int32_t>(big32(lead)) != kMagic || version > kMaxVersionBytes) {
    return kIoBadData;
  }
  const std::uint32_t padded = (version + 3) / 4 * 4;
  std::array<char, kMaxVersionBytes + 4 * kSizeInts> rest{};
  if (!file_.read(rest.data(), padded + 4 * kSizeInts)) return kIoBadData;
  std::array<std::int32_t, kSizeInts> sizes{};
  for (std::size_t i = 0; i < kSizeInts; ++i) {
    sizes[i] = static_cast<std::int32_t>(big32(rest.data() + padded + 4 * i));
  }
  h.real_bytes = real_bytes_;
  if (!take_sizes(sizes, h)) return kIoBadData;
  // The time and lambda reals close the header.
  return file_.seek(file_.position() + 2 * static_cast<std::uint64_t>(h.real_bytes)) ? kIoOk
                                                                                     : kIoBadData;
}

int TrrReader::next_header(FrameHeader& h) {
  const int status = read_header_fields(h);
  if (status == kIoBadData) cut_ = file_.remaining() == 0;
  if (status != kIoOk) return status;
  if (h.natoms != natoms_ && natoms_ != 0) return kIoBadData;
  return kIoOk;
}

bool TrrReader::blocks_fit(const FrameHeader& h) {
  if (file_.remaining() < h.data_bytes()) file_.measure();
  cut_ = file_.remaining() < h.data_bytes();
  return !cut_;
}

bool TrrReader::open() {
  FrameHeader h;
  const int status = read_header_fields(h);
  if (status == kIoEnd) return refuse(kBadHeader);
  if (status != kIoOk) {
    char magic[4] = {};
    std::size_t got = 0;
    file_.seek(0);
    file_.read(magic, sizeof magic, got);
    return refuse(got == 4 && static_cast<std::int32_t>(big32(magic)) != kMagic
                      ? "Error - no magic number in trr file"
                      : kBadHeader);
  }
  natoms_ = h.natoms;
  real_bytes_ = h.real_bytes;
  box_ = h.box > 0;
  return file_.seek(0) || refuse(kBadHeader);
}

void TrrReader::decode(const FrameHeader& h, const char* p, std::span<float> coords,
                       std::span<float> box) const {
  const int r = h.real_bytes;
  // The file's first frame decides whether frames have a box (and the caller a box array);
  // a later frame without one gives zeros.
  if (box_ && h.box > 0) {
    std::array<double, 9> m{};
    for (std::size_t k = 0; k < 9; ++k) m[k] = big_real(p + r * k, r);
    cell_of_box_vectors(m, box);
  } else if (box_) {
    std::fill_n(box.begin(), 6, 0.0f);
  }
  const char* x = p + h.box + h.vir + h.pres;
  const std::size_t n = 3 * static_cast<std::size_t>(h.natoms);
  if (r == 4) {
    for (std::size_t i = 0; i < n; ++i) coords[i] = std::bit_cast<float>(big32(x + 4 * i)) * 10.0f;
  } else {
    for (std::size_t i = 0; i < n; ++i) {
      coords[i] = static_cast<float>(std::bit_cast<double>(big64(x + 8 * i)) * 10.0);
    }
  }
}

int TrrReader::read(std::int32_t natoms, std::span<float> coords, std::span<float> box) {
  if (!fits(natoms, coords, box, box_)) return kIoBadData;
  for (;;) {
    FrameHeader h;
    if (const int status = next_header(h); status != kIoOk) return status;
    if (!blocks_fit(h)) return kIoBadData;
    if (h.x == 0) {  // velocities or forces only
      file_.seek(file_.position() + h.data_bytes());
      continue;
    }
    const char* p = nullptr;
    if (const int status = file_.read_block(frame_, h.through_x(), p); status != kIoOk) {
      return kIoBadData;
    }
    decode(h, p, coords, box);
    file_.seek(file_.position() + h.v + h.f);
    return kIoOk;
  }
}

// Frames are passed by their headers alone: the sizes say where the next frame starts.
std::int64_t TrrReader::skip(std::int32_t natoms, std::int64_t count) {
  if (!can_skip(natoms, count)) return 0;
  std::int64_t passed = 0;
  while (passed < count) {
    const std::uint64_t start = file_.position();
    FrameHeader h;
    if (next_header(h) != kIoOk || !blocks_fit(h)) {
      file_.seek(start);
      break;
    }
    file_.seek(file_.position() + h.data_bytes());
    passed += h.x > 0;
  }
  return passed;
}

}  // namespace

std::unique_ptr<FrameReader> open_trr(const std::string& path, std::int32_t& file_natoms,
                                      std::int32_t& type) {
  auto file = BinaryFile::open(path);
  if (!file) {
    refuse("Error - can't open trr file");
    return nullptr;
  }
  return trr_reader(std::move(*file), type, file_natoms);
}

std::unique_ptr<FrameReader> trr_reader(BinaryFile file, std::int32_t& type, std::int32_t& natoms) {
  auto reader = std::make_unique<TrrReader>(std::move(file));
  if (!reader->open()) return nullptr;
  natoms = reader->file_atoms();
  type = reader->double_precision() ? kTypeTrrDouble : kTypeTrr;
  return reader;
}

}  // namespace kvtraj::readers

// GROMACS TRR trajectories (full precision; the frame header is described in trr_header.hpp).
// Coordinates are nm and are handed over in Å; the box (three vectors, nm) goes out as a, b, c
// (Å) and alpha, beta, gamma (degrees).
//
// GROMACS writes velocities and forces at their own intervals, so frames may lack coordinates.
// Such frames are passed over: the frames of this reader are the file's frames with
// coordinates. Sizes come from the untrusted header and are checked against natoms and the file's
// size before anything is read.
#include <algorithm>
#include <array>

#include "fmtreaders/binary_file.hpp"
#include "fmtreaders/gromacs_box.hpp"
#include "fmtreaders/readers.hpp"
#include "fmtreaders/trr_header.hpp"
#include "support/messages.hpp"

namespace kvtraj::readers {
namespace {

constexpr const char* kBadHeader = "Error - bad header in trr file";

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
  int next_header(TrrHeader& h);
  // Whether the blocks of `h` lie inside the file; marks the file as cut when they do not.
  bool blocks_fit(const TrrHeader& h);
  void decode(const TrrHeader& h, const char* p, std::span<float> coords,
              std::span<float> box) const;

  BinaryFile file_;
  int real_bytes_ = 0;
  bool box_ = false;
  bool cut_ = false;
  std::vector<char> frame_;
};

int TrrReader::next_header(TrrHeader& h) {
  const int status = read_trr_header(file_, real_bytes_, h);
  if (status == kIoBadData) cut_ = file_.remaining() == 0;
  if (status != kIoOk) return status;
  if (h.natoms != natoms_ && natoms_ != 0) return kIoBadData;
  return kIoOk;
}

bool TrrReader::blocks_fit(const TrrHeader& h) {
  if (file_.remaining() < h.data_bytes()) file_.measure();
  cut_ = file_.remaining() < h.data_bytes();
  return !cut_;
}

bool TrrReader::open() {
  TrrHeader h;
  const int status = read_trr_header(file_, 0, h);
  if (status == kIoEnd) return refuse(kBadHeader);
  if (status != kIoOk) {
    return refuse(wrong_trr_magic(file_) ? "Error - no magic number in trr file" : kBadHeader);
  }
  natoms_ = h.natoms;
  real_bytes_ = h.real_bytes;
  box_ = h.box > 0;
  return file_.seek(0) || refuse(kBadHeader);
}

void TrrReader::decode(const TrrHeader& h, const char* p, std::span<float> coords,
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
  decode_reals(x, r, 3 * static_cast<std::size_t>(h.natoms), 10.0, coords);
}

int TrrReader::read(std::int32_t natoms, std::span<float> coords, std::span<float> box) {
  if (!fits(natoms, coords, box, box_)) return kIoBadData;
  for (;;) {
    TrrHeader h;
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
    TrrHeader h;
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

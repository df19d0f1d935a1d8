// binpos trajectories: the magic "fxyz", then per frame natoms (32-bit) and 3 × natoms 32-bit
// reals, x, y, z per atom, optionally followed by six box reals. Nothing flags the box: a file
// has one when the 4 bytes after the first frame's coordinates differ from natoms. A file of a
// single frame without box ends right after its coordinates and is read as a file without box.
#include <cstdio>
#include <cstring>

#include "fmtreaders/binary_file.hpp"
#include "fmtreaders/readers.hpp"
#include "support/fatal.hpp"
#include "support/fortran_input.hpp"

namespace kvtraj::readers {
namespace {

constexpr std::uint64_t kMagicBytes = 4;
constexpr std::uint64_t kBoxBytes = 24;

[[noreturn]] void bad_file() {
  die(stdout, "Error - bad binpos file");
}

class BinposReader final : public FrameReader {
 public:
  BinposReader(BinaryFile file, std::int32_t natoms, bool with_box)
      : file_(std::move(file)),
        natoms_(natoms),
        with_box_(with_box),
        frame_bytes_(4 + 12 * static_cast<std::uint64_t>(natoms) + (with_box ? kBoxBytes : 0)) {}

  int read(std::int32_t natoms, std::span<float> coords, std::span<float> box) override {
    const std::size_t values = 3 * static_cast<std::size_t>(natoms_);
    if (natoms != natoms_ || coords.size() < values || (with_box_ && box.size() < 6)) {
      return kIoBadData;
    }
    const char* frame = nullptr;
    if (const int status = file_.read_block(frame_, frame_bytes_, frame); status != kIoOk) {
      return status;
    }
    std::int32_t count = 0;
    std::memcpy(&count, frame, sizeof count);
    if (count != natoms_) return kIoBadData;  // a frame of another size: the layout is lost
    std::memcpy(coords.data(), frame + 4, 4 * values);
    if (with_box_) std::memcpy(box.data(), frame + 4 + 4 * values, kBoxBytes);
    return kIoOk;
  }

  bool rewind() override { return file_.seek(kMagicBytes); }
  std::int32_t file_atoms() const override { return natoms_; }
  bool cut_inside_frame() const override {
    return file_.remaining() > 0 && file_.remaining() < frame_bytes_;
  }

  std::int64_t skip(std::int32_t natoms, std::int64_t count) override {
    if (natoms != natoms_ || count < 1) return 0;
    return static_cast<std::int64_t>(
        file_.skip_blocks(frame_bytes_, static_cast<std::uint64_t>(count)));
  }

 private:
  BinaryFile file_;
  std::int32_t natoms_ = 0;
  bool with_box_ = false;
  std::uint64_t frame_bytes_ = 0;
  std::vector<char> frame_;
};

// The atom count of the first frame, checked against what the file holds.
std::int32_t first_frame_atoms(BinaryFile& file) {
  std::int32_t count = 0;
  if (!file.read(&count, sizeof count) || count < 1) bad_file();
  if (file.remaining() / 12 < static_cast<std::uint64_t>(count)) bad_file();
  return count;
}

// Whether the 4 bytes after the first frame's coordinates differ from natoms.
bool probe_box(BinaryFile& file, std::int32_t natoms) {
  if (!file.seek(file.position() + 12 * static_cast<std::uint64_t>(natoms))) bad_file();
  std::int32_t next = 0;
  if (!file.read(&next, sizeof next)) return false;  // a single frame without box
  return next != natoms;
}

}  // namespace

std::unique_ptr<FrameReader> open_binpos(const std::string& path, std::int32_t& file_natoms,
                                         bool& with_box) {
  auto file = BinaryFile::open(path);
  if (!file) die(stdout, "Error - can't open binpos file " + path);
  return open_binpos(std::move(*file), file_natoms, with_box);
}

std::unique_ptr<FrameReader> open_binpos(BinaryFile file, std::int32_t& file_natoms,
                                         bool& with_box) {
  char magic[kMagicBytes] = {};
  if (!file.read(magic, sizeof magic) || std::memcmp(magic, "fxyz", kMagicBytes) != 0) {
    bad_file();
  }
  const std::int32_t count = first_frame_atoms(file);
  with_box = probe_box(file, count);
  if (!file.seek(kMagicBytes)) bad_file();
  file_natoms = count;
  return std::make_unique<BinposReader>(std::move(file), count, with_box);
}

}  // namespace kvtraj::readers

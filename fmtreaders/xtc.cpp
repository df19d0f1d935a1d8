// GROMACS XTC trajectories: frames of big-endian (XDR) fields, each magic 1995, natoms, step,
// time, a 3×3 box (rows are the box vectors, nm) and natoms again, then the coordinates (nm):
// plain floats for at most nine atoms, else a compressed block (xtc_codec.hpp).
//
// Frames differ in size and nothing in the file indexes them, so the reader finds frame starts
// by walking the frame headers (each gives its block's byte count) and keeps them: counting,
// skipping and rewinding never decode a frame, and a second pass over the file jumps straight
// to the frame it wants. A header that disagrees with the first frame's, or claims more bytes
// than the file holds, ends the frames there. Frames go out in Å, boxes as a, b, c (Å) and
// alpha, beta, gamma (degrees).
#include <algorithm>
#include <array>

#include "fmtreaders/binary_file.hpp"
#include "fmtreaders/gromacs_box.hpp"
#include "fmtreaders/readers.hpp"
#include "fmtreaders/xtc_codec.hpp"
#include "support/fortran_input.hpp"
#include "support/messages.hpp"

namespace kvtraj::readers {
namespace {

constexpr float kAngstromPerNm = 10.0f;
constexpr std::string_view kBadFile = "Error - bad xtc file: ";
constexpr std::size_t kMaxHeadBytes = xtc::kFrameHeaderBytes + 12 * xtc::kMaxPlainAtoms;

// The six cell values of the box rows at p (nine big-endian floats, nm).
void cell_of_box(const unsigned char* p, std::span<float> box) {
  std::array<double, 9> rows{};
  for (std::size_t k = 0; k < 9; ++k) rows[k] = xtc::load_be_float(p + 4 * k);
  cell_of_box_vectors(rows, box);
}

std::uint64_t padded(std::uint32_t bytes) {
  return (std::uint64_t{bytes} + 3) / 4 * 4;
}

class XtcReader final : public FixedAtomsReader {
 public:
  explicit XtcReader(BinaryFile file) : file_(std::move(file)) {}

  // Reads the first frame's header; false, with the reason reported, when it is not a usable
  // XTC frame.
  bool open();
  int read(std::int32_t natoms, std::span<float> coords, std::span<float> box) override;
  std::int64_t skip(std::int32_t natoms, std::int64_t count) override;
  bool rewind() override {
    next_ = 0;
    return true;
  }
  bool cut_inside_frame() const override { return cut_; }
  float precision() const override { return precision_; }

 private:
  // What a checked frame header says.
  struct Head {
    std::uint64_t end = 0;  // offset after the frame
    xtc::BlockHeader block;
  };
  // Reads and checks the header of the frame at `offset`: kIoOk, kIoEnd when the file ends
  // there, kIoBadData (with cut_ set when the file ends inside the frame) otherwise.
  int read_head(std::uint64_t offset, Head& head);
  bool check_head(std::uint64_t offset, Head& head);
  // A header that fails its checks refuses the file while it is being opened (the reason is
  // reported); afterwards it only marks where the frames end, which is no error.
  bool refuse_head(std::string_view reason) const {
    return opened_ ? false : refuse(std::string(kBadFile) + std::string(reason));
  }
  std::uint64_t head_bytes() const {
    return natoms_ <= xtc::kMaxPlainAtoms
               ? xtc::kFrameHeaderBytes + 12 * static_cast<std::uint64_t>(natoms_)
               : xtc::kFrameHeaderBytes + xtc::kBlockHeaderBytes;
  }
  // Offset of frame next_ (known, or the first unchecked frame).
  std::uint64_t next_offset() const { return next_ < starts_.size() ? starts_[next_] : frontier_; }
  void note_frame(std::uint64_t offset, std::uint64_t end) {
    if (next_ == starts_.size()) {
      starts_.push_back(offset);
      frontier_ = end;
    }
    ++next_;
  }
  int read_coords(const Head& head, std::span<float> coords);

  BinaryFile file_;
  float precision_ = 0.0f;
  unsigned char head_[kMaxHeadBytes] = {};
  std::vector<std::uint64_t> starts_;  // starts of the frames whose headers were checked
  std::uint64_t frontier_ = 0;         // where the first unchecked frame begins
  std::size_t next_ = 0;               // index of the next frame to read
  bool cut_ = false;
  bool opened_ = false;
  std::vector<char> block_;
};

bool XtcReader::check_head(std::uint64_t offset, Head& head) {
  const auto field = [&](std::size_t at) {
    return static_cast<std::int32_t>(xtc::load_be32(head_ + at));
  };
  if (field(0) != xtc::kMagic) return refuse_head("no magic 1995");
  if (field(4) != natoms_ || field(52) != natoms_) {
    return refuse_head("atom count differs from the first frame");
  }
  const std::uint64_t fixed = head_bytes();
  head.end = offset + fixed;
  if (natoms_ > xtc::kMaxPlainAtoms) {
    const unsigned char* block = head_ + xtc::kFrameHeaderBytes;
    const xtc::BlockFault fault = xtc::parse_block_header(block, natoms_, head.block);
    if (fault != xtc::BlockFault::none) return refuse_head(xtc::describe(fault));
    head.end += padded(head.block.bytes);
  }
  if (head.end > offset + fixed + file_.remaining()) {
    file_.measure();  // the file may have grown since it was measured
    if (head.end > offset + fixed + file_.remaining()) {
      cut_ = true;
      return refuse_head("frame extends beyond the end of the file");
    }
  }
  return true;
}

int XtcReader::read_head(std::uint64_t offset, Head& head) {
  cut_ = false;
  const std::uint64_t bytes = head_bytes();
  std::size_t got = 0;
  if (!file_.seek(offset) || !file_.read(head_, bytes, got)) {
    if (got == 0) return kIoEnd;
    cut_ = true;
    refuse_head("file ends inside a frame header");
    return kIoBadData;
  }
  return check_head(offset, head) ? kIoOk : kIoBadData;
}

bool XtcReader::open() {
  std::size_t got = 0;
  if (!file_.read(head_, xtc::kFrameHeaderBytes, got)) {
    return refuse_head(got == 0 ? "empty file" : "file shorter than a frame header");
  }
  if (xtc::load_be32(head_) != static_cast<std::uint32_t>(xtc::kMagic)) {
    return refuse_head("no magic 1995");
  }
  const auto natoms = static_cast<std::int32_t>(xtc::load_be32(head_ + 4));
  if (natoms < 1) return refuse_head("bad atom count");
  natoms_ = natoms;
  Head head;
  if (read_head(0, head) != kIoOk) return false;
  precision_ = natoms_ > xtc::kMaxPlainAtoms ? head.block.precision : 0.0f;
  opened_ = true;
  return true;
}

int XtcReader::read_coords(const Head& head, std::span<float> coords) {
  const auto n = static_cast<std::size_t>(natoms_);
  if (natoms_ <= xtc::kMaxPlainAtoms) {
    for (std::size_t k = 0; k < 3 * n; ++k) {
      coords[k] = xtc::load_be_float(head_ + xtc::kFrameHeaderBytes + 4 * k) * kAngstromPerNm;
    }
    return kIoOk;
  }
  const char* data = nullptr;
  const int status = file_.read_block(block_, padded(head.block.bytes), data);
  if (status != kIoOk) return kIoBadData;  // the header promised these bytes
  const auto* bits = reinterpret_cast<const unsigned char*>(data);
  return xtc::decode(head.block, bits, natoms_, kAngstromPerNm, coords) ? kIoOk : kIoBadData;
}

int XtcReader::read(std::int32_t natoms, std::span<float> coords, std::span<float> box) {
  if (!fits(natoms, coords, box, true)) return kIoBadData;
  const std::uint64_t offset = next_offset();
  Head head;
  if (const int status = read_head(offset, head); status != kIoOk) return status;
  note_frame(offset, head.end);  // a frame that does not decode is still passed
  if (const int status = read_coords(head, coords); status != kIoOk) return status;
  cell_of_box(head_ + 16, box);
  return kIoOk;
}

std::int64_t XtcReader::skip(std::int32_t natoms, std::int64_t count) {
  if (!can_skip(natoms, count)) return 0;
  std::int64_t passed = 0;
  if (next_ < starts_.size()) {
    const auto known = static_cast<std::int64_t>(starts_.size() - next_);
    passed = std::min(count, known);
    next_ += static_cast<std::size_t>(passed);
  }
  for (Head head; passed < count && read_head(frontier_, head) == kIoOk; ++passed) {
    note_frame(frontier_, head.end);
  }
  return passed;
}

}  // namespace

std::unique_ptr<FrameReader> open_xtc(const std::string& path, std::int32_t& file_natoms,
                                      std::int32_t& type) {
  auto file = BinaryFile::open(path);
  if (!file) {
    refuse(std::string(kBadFile) + "can't open xtc file");
    return nullptr;
  }
  return xtc_reader(std::move(*file), type, file_natoms);
}

std::unique_ptr<FrameReader> xtc_reader(BinaryFile file, std::int32_t& type, std::int32_t& natoms) {
  auto reader = std::make_unique<XtcReader>(std::move(file));
  if (!reader->open()) return nullptr;
  natoms = reader->file_atoms();
  type = kTypeXtc;
  return reader;
}

}  // namespace kvtraj::readers

// AMBER formatted trajectories: a title line, then per frame 3 × natoms values in "(10f8.3)"
// records (a frame starts on a new line), and for crdbox one "(6f8.3)" box line. Values are read
// through the Fortran-style fields of support/, so short lines and blank fields read as 0 and a
// box line of three lengths gives three zeros after them. Nothing in the file gives the atom
// count: the caller passes it to every read.
#include <cstdio>

#include "fmtreaders/readers.hpp"
#include "support/fatal.hpp"
#include "support/fixed_text.hpp"
#include "support/fortran_input.hpp"

namespace kvtraj::readers {
namespace {

class AmberReader final : public FrameReader {
 public:
  AmberReader(std::unique_ptr<RecordReader> records, bool with_box)
      : records_(std::move(records)), input_(*records_), with_box_(with_box) {}

  // Reads the title line; false when the file holds none (an empty file has no frames).
  bool read_title() { return input_.line(kTitleLength, title_) == kIoOk; }

  int read(std::int32_t natoms, std::span<float> coords, std::span<float> box) override {
    if (natoms < 1) return kIoBadData;
    const std::size_t values = 3 * static_cast<std::size_t>(natoms);
    if (coords.size() < values || (with_box_ && box.size() < 6)) return kIoBadData;
    static const Format kCoordinates("(10f8.3)");
    static const Format kBox("(6f8.3)");
    const int status = input_.reals(kCoordinates, coords.first(values));
    if (status != kIoOk || !with_box_) return status;
    return input_.reals(kBox, box.first(6));
  }

 private:
  std::unique_ptr<RecordReader> records_;
  FormattedReader input_;
  bool with_box_ = false;
  std::string title_;
};

}  // namespace

std::unique_ptr<FrameReader> open_amber(const std::string& path, bool with_box) {
  auto records = RecordReader::open(path);
  if (!records) die(stdout, "Error - can't open crd or crdbox file " + path);
  return open_amber(std::move(records), with_box);
}

std::unique_ptr<FrameReader> open_amber(std::unique_ptr<RecordReader> records, bool with_box) {
  auto reader = std::make_unique<AmberReader>(std::move(records), with_box);
  reader->read_title();
  return reader;
}

}  // namespace kvtraj::readers

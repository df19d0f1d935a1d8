// GROMACS TRR in single precision, XDR big-endian: per frame the magic 1993, the version string
// "GMX_trn_file" (its length as an int, then as an XDR string: length and bytes padded to 4), the
// thirteen ints of block sizes (input record, energies, box, virial, pressure, topology,
// symmetry, coordinates, velocities, forces), natoms, step and nre, then time and lambda, the box
// (three row vectors, nm) when the frame has one, and the coordinates in nm. Frames of a
// TrajectoryWriter are steps 0, 1, 2, ... at 1 ps apart, as for XTC; stamped frames carry the
// caller's step, time and lambda and a box of zeros, as gmx covar writes its eigenvectors.
#include <bit>
#include <cerrno>
#include <cstring>
#include <limits>
#include <optional>

#include "fmtreaders/xtc_codec.hpp"
#include "fmtwriters/formats.hpp"
#include "support/messages.hpp"

namespace kvtraj {
namespace {

constexpr std::uint32_t kMagic = 1993;
constexpr std::string_view kVersion = "GMX_trn_file";
// The coordinate block's size in bytes is an int of the header.
constexpr std::int32_t kMaxAtoms = std::numeric_limits<std::int32_t>::max() / 12;

void append_be(std::vector<unsigned char>& out, std::uint32_t v) {
  unsigned char raw[4];
  xtc::store_be32(v, raw);
  out.insert(out.end(), raw, raw + 4);
}
void append_be(std::vector<unsigned char>& out, std::int32_t v) {
  append_be(out, static_cast<std::uint32_t>(v));
}
void append_be(std::vector<unsigned char>& out, float v) {
  append_be(out, std::bit_cast<std::uint32_t>(v));
}

// One frame of coordinates times `scale`: `box` holds nine reals (nm) or nothing for a frame
// without a box.
void append_frame(std::vector<unsigned char>& out, std::span<const float> coords, float scale,
                  std::span<const float> box, const TrrStamp& stamp) {
  const auto natoms = static_cast<std::int32_t>(coords.size() / 3);
  append_be(out, kMagic);
  append_be(out, static_cast<std::uint32_t>(kVersion.size() + 1));
  append_be(out, static_cast<std::uint32_t>(kVersion.size()));
  out.insert(out.end(), kVersion.begin(), kVersion.end());
  out.resize(out.size() + (4 - kVersion.size() % 4) % 4, 0);
  const std::int32_t sizes[10] = {
      0, 0, static_cast<std::int32_t>(4 * box.size()), 0, 0, 0, 0, 12 * natoms, 0, 0};
  for (std::int32_t s : sizes) append_be(out, s);
  append_be(out, natoms);
  append_be(out, static_cast<std::int32_t>(stamp.step));
  append_be(out, std::int32_t{0});
  append_be(out, stamp.time);
  append_be(out, stamp.lambda);
  for (float v : box) append_be(out, v);
  for (float v : coords) append_be(out, v * scale);
}

class TrrWriter final : public TrajectoryWriter {
 public:
  explicit TrrWriter(WriterSetup s)
      : TrajectoryWriter(std::move(s.out), std::move(s.path), s.natoms, s.with_cell) {}

 private:
  bool put_header(std::string_view) override {
    if (natoms() <= kMaxAtoms) return true;
    return fail("a TRR frame holds at most " + std::to_string(kMaxAtoms) + " atoms");
  }

  bool put_frame(std::span<const float> coords, const UnitCell& cell) override {
    frame_.clear();
    std::vector<float> box;
    if (with_cell()) {
      for (double v : box_vectors(cell)) box.push_back(static_cast<float>(v / 10.0));
    }
    append_frame(frame_, coords, 0.1f, box, {frames(), static_cast<float>(frames()), 0.0f});
    return put(frame_.data(), frame_.size());
  }

  std::vector<unsigned char> frame_;
};

}  // namespace

std::unique_ptr<TrajectoryWriter> make_trr_writer(WriterSetup setup) {
  return std::make_unique<TrrWriter>(std::move(setup));
}

std::unique_ptr<StampedTrr> StampedTrr::create(const std::string& path, std::int32_t natoms) {
  if (natoms < 1 || natoms > kMaxAtoms) {
    report_error(path + ": cannot write TRR frames of " + std::to_string(natoms) + " atoms");
    return nullptr;
  }
  auto out = ReplacingFile::create(path);
  if (!out) {
    report_error(path + ": cannot open for writing: " + std::strerror(errno));
    return nullptr;
  }
  return std::unique_ptr<StampedTrr>(new StampedTrr(std::move(out), path, natoms));
}

bool StampedTrr::write(std::span<const float> values, const TrrStamp& stamp) {
  if (values.size() != 3 * static_cast<std::size_t>(natoms_)) {
    report_error(path_ + ": a frame of " + std::to_string(values.size()) + " values for " +
                 std::to_string(natoms_) + " atoms");
    return false;
  }
  std::vector<unsigned char> frame;
  const float zero_box[9] = {};
  append_frame(frame, values, 1.0f, zero_box, stamp);
  if (std::fwrite(frame.data(), 1, frame.size(), out_->get()) == frame.size()) return true;
  report_error(path_ + ": could not be written: " + std::strerror(errno));
  return false;
}

bool StampedTrr::finish() {
  if (out_->commit()) return true;
  report_error(path_ + ": could not be written: " + std::strerror(errno));
  return false;
}

}  // namespace kvtraj

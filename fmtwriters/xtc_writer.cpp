// GROMACS XTC: per frame magic 1995, natoms, step, time, the box as three row vectors and
// natoms again (all big-endian), then the coordinates in nm: plain floats for up to nine atoms,
// otherwise a block of the shared XTC codec at the writer's precision. Frames are numbered as
// steps 0, 1, 2, ... at 1 ps apart: the KVT and DCD frames they come from carry no times.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "fmtreaders/xtc_codec.hpp"
#include "fmtwriters/formats.hpp"

namespace kvtraj {
namespace {

void append_be(std::vector<unsigned char>& out, std::uint32_t v) {
  unsigned char raw[4];
  xtc::store_be32(v, raw);
  out.insert(out.end(), raw, raw + 4);
}

void append_be(std::vector<unsigned char>& out, float v) {
  std::uint32_t raw = 0;
  std::memcpy(&raw, &v, sizeof raw);
  append_be(out, raw);
}

// The box rows (nm) of a cell, as GROMACS lays boxes out.
std::array<float, 9> box_rows_nm(const UnitCell& cell) {
  const std::array<double, 9> rows = box_vectors(cell);
  std::array<float, 9> out{};
  for (std::size_t k = 0; k < 9; ++k) out[k] = static_cast<float>(rows[k] / 10.0);
  return out;
}

class XtcWriter final : public TrajectoryWriter {
 public:
  explicit XtcWriter(WriterSetup s)
      : TrajectoryWriter(std::move(s.out), std::move(s.path), s.natoms, s.with_cell),
        precision_(s.precision == 0.0f ? xtc::kDefaultPrecision : s.precision) {}

 private:
  bool put_header(std::string_view) override {
    if (precision_ > 0.0f && std::isfinite(precision_)) return true;
    return fail("XTC precision must be a positive number");
  }

  bool put_frame(std::span<const float> coords, const UnitCell& cell) override {
    frame_.clear();
    const auto n = static_cast<std::uint32_t>(natoms());
    append_be(frame_, static_cast<std::uint32_t>(xtc::kMagic));
    append_be(frame_, n);
    append_be(frame_, static_cast<std::uint32_t>(frames()));
    append_be(frame_, static_cast<float>(frames()));
    const std::array<float, 9> box = with_cell() ? box_rows_nm(cell) : std::array<float, 9>{};
    for (float v : box) append_be(frame_, v);
    append_be(frame_, n);
    nm_.resize(coords.size());
    for (std::size_t k = 0; k < coords.size(); ++k) nm_[k] = coords[k] / 10.0f;
    if (natoms() <= xtc::kMaxPlainAtoms) {
      for (float v : nm_) append_be(frame_, v);
    } else if (!encoder_.encode(nm_, precision_, frame_)) {
      return fail("coordinates too large for XTC at precision " + std::to_string(precision_));
    }
    return put(frame_.data(), frame_.size());
  }

  float precision_;
  xtc::Encoder encoder_;
  std::vector<float> nm_;
  std::vector<unsigned char> frame_;
};

}  // namespace

std::unique_ptr<TrajectoryWriter> make_xtc_writer(WriterSetup setup) {
  return std::make_unique<XtcWriter>(std::move(setup));
}

}  // namespace kvtraj

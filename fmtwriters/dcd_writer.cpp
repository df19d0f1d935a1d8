// DCD in the CHARMM layout that MDTraj writes: 4-byte record markers, version 24, one title
// line, then per frame an optional unit-cell record of six doubles and the x, y, z records.
#include <cstring>

#include "fmtwriters/formats.hpp"
#include "support/fixed_text.hpp"

namespace kvtraj {
namespace {

constexpr std::int32_t kHeaderBytes = 84;
constexpr std::int32_t kTitleBytes = 80;
constexpr std::int32_t kCharmmVersion = 24;
constexpr long kFrameCountOffset = 8;  // after the first marker and "CORD"
constexpr long kStepCountOffset = 20;  // the fourth header integer

template <class T>
void append(std::vector<char>& out, const T& value) {
  const auto* raw = reinterpret_cast<const char*>(&value);
  out.insert(out.end(), raw, raw + sizeof(T));
}

class DcdWriter final : public TrajectoryWriter {
 public:
  explicit DcdWriter(WriterSetup s)
      : TrajectoryWriter(std::move(s.out), std::move(s.path), s.natoms, s.with_cell) {}

 private:
  bool put_header(std::string_view title) override {
    std::vector<char> h;
    std::int32_t counters[20] = {};
    counters[2] = 1;  // steps between frames
    float time_step = 1.0f;
    std::memcpy(&counters[9], &time_step, sizeof time_step);
    counters[10] = with_cell() ? 1 : 0;
    counters[19] = kCharmmVersion;
    append(h, kHeaderBytes);
    h.insert(h.end(), {'C', 'O', 'R', 'D'});
    for (std::int32_t c : counters) append(h, c);
    append(h, kHeaderBytes);

    const std::string line = fit_text(title.empty() ? "Created by kvtraj" : title, kTitleBytes);
    const std::int32_t title_record = 4 + kTitleBytes;
    append(h, title_record);
    append(h, std::int32_t{1});
    h.insert(h.end(), line.begin(), line.end());
    append(h, title_record);

    append(h, std::int32_t{4});
    append(h, natoms());
    append(h, std::int32_t{4});
    return put(h.data(), h.size());
  }

  bool put_frame(std::span<const float> coords, const UnitCell& cell) override {
    frame_.clear();
    if (with_cell()) {
      const double v[6] = {
          cell.a, cosine_of(cell.gamma), cell.b, cosine_of(cell.beta), cosine_of(cell.alpha),
          cell.c};
      append(frame_, std::int32_t{48});
      for (double x : v) append(frame_, x);
      append(frame_, std::int32_t{48});
    }
    const std::size_t n = static_cast<std::size_t>(natoms());
    const auto marker = static_cast<std::int32_t>(4 * n);
    for (std::size_t axis = 0; axis < 3; ++axis) {
      append(frame_, marker);
      const std::size_t at = frame_.size();
      frame_.resize(at + 4 * n);
      float* dst = reinterpret_cast<float*>(frame_.data() + at);
      for (std::size_t i = 0; i < n; ++i) std::memcpy(dst + i, &coords[3 * i + axis], 4);
      append(frame_, marker);
    }
    return put(frame_.data(), frame_.size());
  }

  // The frame count stands in the header; a target that cannot seek (a pipe) keeps 0 there.
  bool put_trailer() override {
    if (std::fseek(file(), kFrameCountOffset, SEEK_SET) != 0) return true;
    const auto count = static_cast<std::int32_t>(frames());
    const bool ok = std::fwrite(&count, 4, 1, file()) == 1 &&
                    std::fseek(file(), kStepCountOffset, SEEK_SET) == 0 &&
                    std::fwrite(&count, 4, 1, file()) == 1 && std::fseek(file(), 0, SEEK_END) == 0;
    return ok || fail(path() +
                      ": cannot record the frame count in the DCD header: " + std::strerror(errno));
  }

  std::vector<char> frame_;
};

}  // namespace

std::uint64_t dcd_file_size(std::int64_t natoms, std::int64_t nframes, bool with_cell) {
  // Header, title and atom-count records, each framed by two 4-byte markers.
  const std::uint64_t header = (kHeaderBytes + 8) + (4 + kTitleBytes + 8) + (4 + 8);
  const std::uint64_t frame =
      3 * (4 * static_cast<std::uint64_t>(natoms) + 8) + (with_cell ? 56 : 0);
  return header + frame * static_cast<std::uint64_t>(nframes);
}

std::unique_ptr<TrajectoryWriter> make_dcd_writer(WriterSetup setup) {
  return std::make_unique<DcdWriter>(std::move(setup));
}

}  // namespace kvtraj

// kvt modes: the motion along one vector as a trajectory that loops, or the first vectors as an
// NMD file for VMD's Normal Mode Wizard.
#include <array>

#include "analysis/analysis.hpp"
#include "apps/kvt/kvt_app.hpp"
#include "apps/kvt/output_format.hpp"
#include "clopts/clopts.hpp"
#include "kvt_io/kvt_io.hpp"

namespace kvtraj::app {
namespace {

constexpr std::int32_t kKvtUnit = 27;

bool is_nmd(const std::string& path) {
  return path.size() > 4 && path.compare(path.size() - 4, 4, ".nmd") == 0;
}

void write_motion(const kvtfile& kvtf, const std::string& out, std::int32_t k) {
  const TrajectoryFormat format = output_format(out);
  const std::int32_t count = int_option("--frames").value_or(20);
  if (count < 2) fail("--frames must be 2 or more");
  const float scale = real_option("--scale").value_or(1.0f);
  const std::vector<float> amplitudes = analysis::mode_amplitudes(kvtf, k, count, scale);
  auto writer = written([&] {
    return TrajectoryWriter::create(out, format, kvtf.natoms, false,
                                    kvtf.title + ", along vector " + std::to_string(k), 0.0f,
                                    kvtf.atoms);
  });
  std::vector<float> frame(kvtf.avg.size());
  for (const float p : amplitudes) {
    analysis::mode_structure(kvtf, k, p, frame);
    written([&] { return writer->write_frame(frame); });
  }
  written([&] { return writer->finish(); });
}

}  // namespace

int run_modes() {
  static constexpr std::array<std::string_view, 5> kValued = {"-i", "-o", "--vector", "--frames",
                                                              "--scale"};
  check_arguments({}, kValued);
  const std::string in = required_text("-i", "the KVT file");
  const std::string out = required_text("-o", "the file to write");
  const kvtfile kvtf = kvtopen(kKvtUnit, in);
  if (kvtf.status != 0) fail(in + ": the KVT file is incomplete or unreadable");
  const auto k = int_option("--vector");
  if (is_nmd(out)) {
    if (text_option("--frames") || text_option("--scale")) {
      fail("--frames and --scale go with a trajectory, not an NMD file");
    }
    analysis::write_nmd(out, kvtf, k.value_or(kvtf.nvecs));
    return 0;
  }
  if (!k) fail("give the vector to follow: --vector K");
  if (*k < 1 || *k > kvtf.nvecs) {
    fail("--vector " + std::to_string(*k) + " is outside 1.." + std::to_string(kvtf.nvecs));
  }
  write_motion(kvtf, out, *k);
  return 0;
}

}  // namespace kvtraj::app

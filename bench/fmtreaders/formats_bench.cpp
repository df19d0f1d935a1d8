// Reading speed of the TRR and AMBER NetCDF readers: every frame of KVTRAJ_BENCH_DIR/traj.trr
// and traj.nc through the handle table (bench/fmtreaders/compare_formats.py writes them and times
// MDTraj and MDAnalysis on the same files).
#include <benchmark/benchmark.h>

#include <array>
#include <cstdlib>
#include <string>
#include <vector>

#include "fmtreaders/fmtreaders.hpp"
#include "support/files.hpp"

namespace kvtraj::bench {
namespace {

// Opens, reads every frame and closes; the frame count of one pass, 0 when nothing was read.
std::int64_t read_all(const std::string& path, const char* type, std::vector<float>& coords) {
  f77_molfile_init();
  std::int32_t handle = 0, natoms = 0, status = 1;
  f77_molfile_open_read(handle, natoms, path, type);
  if (handle < 0) return 0;
  coords.resize(3 * static_cast<std::size_t>(natoms));
  std::array<float, 6> box{};
  std::int64_t frames = 0;
  for (;; ++frames) {
    f77_molfile_read_next(handle, natoms, coords, box, status);
    if (status != 1) break;
    benchmark::DoNotOptimize(coords.data());
  }
  f77_molfile_close_read(handle, status);
  return frames;
}

void AllFrames(benchmark::State& state, const char* extension) {
  const char* dir = std::getenv("KVTRAJ_BENCH_DIR");
  const std::string path = std::string(dir ? dir : ".") + "/traj." + extension;
  if (!file_exists(path)) return state.SkipWithError("no input file (set KVTRAJ_BENCH_DIR)");
  std::vector<float> coords;
  std::int64_t frames = 0;
  for (auto _ : state) frames += read_all(path, extension, coords);
  if (frames == 0) return state.SkipWithError("no frame was read");
  state.counters["frames_per_s"] =
      benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
  state.counters["frames"] = static_cast<double>(frames) / static_cast<double>(state.iterations());
}

BENCHMARK_CAPTURE(AllFrames, trr, "trr")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(AllFrames, nc, "nc")->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kvtraj::bench

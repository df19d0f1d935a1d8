// Snapshot access through xsnap: every snapshot of a DCD in order, and in a shuffled order
// (each backward step reopens the file and seeks to the frame).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <vector>

#include "bench/fmtreaders/bench_files.hpp"
#include "fmtreaders/fmtreaders.hpp"
#include "trajsrc/trajsrc.hpp"

namespace kvtraj::bench {
namespace {

void Snapshots(benchmark::State& state, bool shuffled) {
  f77_molfile_init();
  std::int32_t natoms = 0;
  trajectory traj = xopen(bench_file("dcd"), natoms);
  std::vector<int> order(static_cast<std::size_t>(traj.nsnaps));
  std::iota(order.begin(), order.end(), 1);
  if (shuffled) std::shuffle(order.begin(), order.end(), std::mt19937(2024));
  std::vector<float> coords(3 * static_cast<std::size_t>(traj.natoms));
  for (auto _ : state) {
    for (int i : order) {
      xsnap(traj, coords, i);
      if (traj.status != 0) return state.SkipWithError("a snapshot could not be read");
      benchmark::DoNotOptimize(coords.data());
    }
  }
  xclose(traj);
  state.counters["snapshots"] = static_cast<double>(order.size());
}

BENCHMARK_CAPTURE(Snapshots, dcd_in_order, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Snapshots, dcd_shuffled, true)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kvtraj::bench

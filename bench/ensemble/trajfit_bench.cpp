// trajfit over 5,000 frames of 4,000 atoms against the sum of its per-frame fits (superpose on
// each frame in turn, transform not applied).
#include <benchmark/benchmark.h>

#include <span>

#include "bench/superpose/bench_data.hpp"
#include "ensemble/ensemble.hpp"
#include "superpose/superpose.hpp"

namespace kvtraj {
namespace {

constexpr int kAtoms = 4000;
constexpr int kFrames = 5000;
constexpr std::size_t kSnapshot = 3 * kAtoms;

struct Inputs {
  std::vector<float> ref = bench::bench_floats("ref.f32", kSnapshot, 1);
  std::vector<float> traj = many_frames();

  // The stored frames repeated to kFrames snapshots.
  static std::vector<float> many_frames() {
    const auto stored = bench::bench_floats("frames.f32", 10 * kSnapshot, 2);
    std::vector<float> traj;
    traj.reserve(kFrames * kSnapshot);
    for (int f = 0; f < kFrames; ++f) {
      const auto first = stored.begin() + static_cast<std::ptrdiff_t>((f % 10) * kSnapshot);
      traj.insert(traj.end(), first, first + kSnapshot);
    }
    return traj;
  }
};

Inputs& inputs() {
  static Inputs in;
  return in;
}

void BM_trajfit_5000_frames(benchmark::State& state) {
  Inputs& in = inputs();
  for (auto _ : state) {
    trajfit(in.traj, in.ref, kAtoms, kFrames);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_trajfit_5000_frames)->Unit(benchmark::kMillisecond);

void BM_per_frame_fits_5000_frames(benchmark::State& state) {
  Inputs& in = inputs();
  Matrix3f rot{};
  Vector3f trans{};
  float rms = 0.0f;
  for (auto _ : state) {
    for (int f = 0; f < kFrames; ++f) {
      const std::span<const float> snapshot(in.traj.data() + f * kSnapshot, kSnapshot);
      superpose(kAtoms, in.ref, snapshot, rot, trans, rms, 1);
      benchmark::DoNotOptimize(rms);
      benchmark::DoNotOptimize(rot);
    }
  }
}
BENCHMARK(BM_per_frame_fits_5000_frames)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kvtraj

BENCHMARK_MAIN();

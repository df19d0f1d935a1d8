// superpose (mode 1) of 4,000 atoms: one fit, and one fit with the transform applied (what the
// peer's per-frame superposition does).
#include <benchmark/benchmark.h>

#include "bench_data.hpp"
#include "ensemble/ensemble.hpp"
#include "superpose/superpose.hpp"

namespace kvtraj {
namespace {

constexpr int kAtoms = 4000;

void BM_superpose_4000(benchmark::State& state) {
  const auto ref = bench::bench_floats("ref.f32", 3 * kAtoms, 1);
  const auto mov = bench::bench_floats("frames.f32", 3 * kAtoms, 2);
  Matrix3f rot{};
  Vector3f trans{};
  float rms = 0.0f;
  for (auto _ : state) {
    superpose(kAtoms, ref, mov, rot, trans, rms, 1);
    benchmark::DoNotOptimize(rms);
    benchmark::DoNotOptimize(rot);
  }
}
BENCHMARK(BM_superpose_4000);

void BM_fit_and_apply_4000(benchmark::State& state) {
  const auto ref = bench::bench_floats("ref.f32", 3 * kAtoms, 1);
  auto mov = bench::bench_floats("frames.f32", 3 * kAtoms, 2);
  for (auto _ : state) {
    trajfit(mov, ref, kAtoms, 1);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_fit_and_apply_4000);

}  // namespace
}  // namespace kvtraj

BENCHMARK_MAIN();

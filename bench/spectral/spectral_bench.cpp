// evals / evecs on a 3,000 x 3,000 covariance against ssyevr called directly with the same
// arguments (workspace query, then the computation on a matrix copied outside the timing),
// interleaved so that load from other processes falls on both alike.
#include <benchmark/benchmark.h>
#include <lapack.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <vector>

#include "bench/superpose/bench_data.hpp"
#include "spectral/spectral.hpp"

namespace kvtraj {
namespace {

constexpr int kOrder = 3000;

// $KVTRAJ_BENCH_DIR/cov.f32, or a random symmetric matrix.
const std::vector<float>& matrix() {
  static const std::vector<float> a = [] {
    std::vector<float> m = bench::bench_floats("cov.f32", std::size_t{kOrder} * kOrder, 3);
    for (int j = 0; j < kOrder; ++j) {
      for (int i = 0; i < j; ++i) m[j + i * kOrder] = m[i + j * kOrder];
    }
    return m;
  }();
  return a;
}

// ssyevr: query with JOBZ "V", RANGE "I", UPLO "U", then the computation with the given args.
void direct_ssyevr(std::vector<float>& a, char jobz, char range, char uplo, int il,
                   std::vector<float>& w, std::vector<float>& z) {
  const lapack_int n = kOrder, iu = kOrder;
  const float vl = 0.0f, vu = 0.0f, abstol = 0.0f;
  lapack_int m = 0, info = 0, lwork = -1, liwork = -1;
  std::vector<lapack_int> isuppz(2 * n);
  float work_size = 0.0f;
  lapack_int iwork_size = 0;
  const char v = 'V', i = 'I', u = 'U';
  LAPACK_ssyevr(&v, &i, &u, &n, a.data(), &n, &vl, &vu, &il, &iu, &abstol, &m, w.data(), z.data(),
                &n, isuppz.data(), &work_size, &lwork, &iwork_size, &liwork, &info);
  lwork = static_cast<lapack_int>(work_size);
  liwork = iwork_size;
  std::vector<float> work(lwork);
  std::vector<lapack_int> iwork(liwork);
  LAPACK_ssyevr(&jobz, &range, &uplo, &n, a.data(), &n, &vl, &vu, &il, &iu, &abstol, &m, w.data(),
                z.data(), &n, isuppz.data(), work.data(), &lwork, iwork.data(), &liwork, &info);
  if (info != 0) throw std::runtime_error("ssyevr failed");
}

// Runs `ours` and `direct` alternately, so that both see the same machine load, and reports the
// fastest time of each and their ratio. The time of a benchmark iteration is that of `ours`.
template <class Ours, class Direct>
void side_by_side(benchmark::State& state, Ours ours, Direct direct) {
  using Clock = std::chrono::steady_clock;
  double best_ours = 1e30, best_direct = 1e30;
  std::vector<float> a;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    ours();
    const auto t1 = Clock::now();
    a = matrix();  // ssyevr overwrites its matrix: a fresh copy, outside the timing
    const auto t2 = Clock::now();
    direct(a);
    const auto t3 = Clock::now();
    const double o = std::chrono::duration<double>(t1 - t0).count();
    best_ours = std::min(best_ours, o);
    best_direct = std::min(best_direct, std::chrono::duration<double>(t3 - t2).count());
    state.SetIterationTime(o);
  }
  state.counters["ours_ms"] = best_ours * 1e3;
  state.counters["direct_ms"] = best_direct * 1e3;
  state.counters["ratio"] = best_ours / best_direct;
}

void BM_evals_vs_ssyevr(benchmark::State& state) {
  const std::vector<float>& a = matrix();
  std::vector<float> w(kOrder), w2(kOrder), z(1);
  side_by_side(
      state,
      [&] {
        evals({w.data(), kOrder, 1}, column_major(a.data(), kOrder, kOrder));
      },
      [&](std::vector<float>& copy) { direct_ssyevr(copy, 'N', 'A', 'U', 1, w2, z); });
  if (w[0] != w2[kOrder - 1]) state.SkipWithError("evals differs from ssyevr");
}

void BM_evecs_vs_ssyevr(benchmark::State& state) {
  const auto nvec = static_cast<std::int32_t>(state.range(0));
  const std::vector<float>& a = matrix();
  std::vector<float> z(std::size_t{kOrder} * nvec), z2(z.size()), w(kOrder);
  side_by_side(
      state,
      [&] {
        evecs(column_major(z.data(), kOrder, nvec), column_major(a.data(), kOrder, kOrder), nvec);
      },
      [&](std::vector<float>& copy) {
        direct_ssyevr(copy, 'V', 'I', 'L', kOrder - nvec + 1, w, z2);
      });
  // Column 1 of evecs is the last column of ssyevr's block.
  if (z[0] != z2[std::size_t{kOrder} * (nvec - 1)])
    state.SkipWithError("evecs differs from ssyevr");
}

BENCHMARK(BM_evals_vs_ssyevr)->Unit(benchmark::kMillisecond)->Iterations(5)->UseManualTime();
BENCHMARK(BM_evecs_vs_ssyevr)
    ->Arg(100)
    ->Arg(3000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseManualTime();

}  // namespace
}  // namespace kvtraj

BENCHMARK_MAIN();

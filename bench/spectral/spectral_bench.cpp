// evals / evecs on a 3,000 x 3,000 covariance against ssyevr called directly with the same
// arguments (workspace query, then the computation on a matrix copied outside the timing).
#include <benchmark/benchmark.h>
#include <lapack.h>

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

void BM_evals_3000(benchmark::State& state) {
  std::vector<float> w(kOrder);
  for (auto _ : state) {
    evals({w.data(), kOrder, 1}, column_major(matrix().data(), kOrder, kOrder));
    benchmark::DoNotOptimize(w.data());
  }
}

void BM_ssyevr_values_3000(benchmark::State& state) {
  std::vector<float> w(kOrder), z(1), a;
  for (auto _ : state) {
    state.PauseTiming();
    a = matrix();
    state.ResumeTiming();
    direct_ssyevr(a, 'N', 'A', 'U', 1, w, z);
    benchmark::DoNotOptimize(w.data());
  }
}

void BM_evecs_3000(benchmark::State& state) {
  const auto nvec = static_cast<std::int32_t>(state.range(0));
  std::vector<float> z(std::size_t{kOrder} * nvec);
  for (auto _ : state) {
    evecs(column_major(z.data(), kOrder, nvec), column_major(matrix().data(), kOrder, kOrder),
          nvec);
    benchmark::DoNotOptimize(z.data());
  }
}

void BM_ssyevr_vectors_3000(benchmark::State& state) {
  const auto nvec = static_cast<int>(state.range(0));
  std::vector<float> w(kOrder), z(std::size_t{kOrder} * nvec), a;
  for (auto _ : state) {
    state.PauseTiming();
    a = matrix();
    state.ResumeTiming();
    direct_ssyevr(a, 'V', 'I', 'L', kOrder - nvec + 1, w, z);
    benchmark::DoNotOptimize(z.data());
  }
}

BENCHMARK(BM_evals_3000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ssyevr_values_3000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_evecs_3000)->Arg(100)->Arg(3000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ssyevr_vectors_3000)
    ->Arg(100)
    ->Arg(3000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

}  // namespace
}  // namespace kvtraj

BENCHMARK_MAIN();

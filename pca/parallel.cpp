#include "pca/parallel.hpp"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "pca/blas.hpp"
#include "support/fatal.hpp"

namespace kvtraj::pca {
namespace {

// Enough ranges that a thread left with less of a core evens out, few enough that each is a
// sizeable product.
constexpr std::int64_t kRangesPerThread = 4;

std::int64_t range_count(const Cores& cores, std::int64_t items) {
  return cores.count() == 1 ? std::min<std::int64_t>(items, 1)
                            : std::min(items, kRangesPerThread * cores.count());
}

// Runs fn(r, first, last) for ranges r = 0 .. ranges - 1 of [0, items).
void run_ranges(Cores& cores, std::int64_t items, std::int64_t ranges,
                const std::function<void(std::int64_t, std::int64_t, std::int64_t)>& fn) {
  if (cores.count() == 1) {
    for (std::int64_t r = 0; r < ranges; ++r) {
      cores.check();
      fn(r, items * r / ranges, items * (r + 1) / ranges);
    }
    return;
  }
  std::atomic<std::int64_t> next{0};
  run_threads(static_cast<int>(std::min<std::int64_t>(cores.count(), ranges)),
              [&](int, const std::atomic<bool>& failed) {
                for (std::int64_t r = next++; r < ranges && !failed; r = next++) {
                  const Cores::Held held(cores);
                  fn(r, items * r / ranges, items * (r + 1) / ranges);
                }
              });
}

}  // namespace

void run_threads(int threads,
                 const std::function<void(int t, const std::atomic<bool>& failed)>& fn) {
  std::atomic<bool> failed{false};
  std::exception_ptr error;
  std::mutex error_mutex;
  const auto run = [&](int t) {
    try {
      fn(t, failed);
    } catch (...) {
      const std::lock_guard lock(error_mutex);
      if (!error) error = std::current_exception();
      failed = true;
    }
  };
  std::vector<std::thread> helpers;
  for (int t = 1; t < threads; ++t) helpers.emplace_back(run, t);
  run(0);
  for (std::thread& t : helpers) t.join();
  if (error) std::rethrow_exception(error);
}

void Cores::check() const {
  if (cancel_ != nullptr && cancel_->load()) die("the analysis was cancelled");
}

void Cores::acquire(bool urgent) {
  check();
  std::unique_lock lock(mutex_);
  if (urgent) ++urgent_waiting_;
  freed_.wait(lock, [&] { return free_ > 0 && (urgent || urgent_waiting_ == 0); });
  if (urgent) --urgent_waiting_;
  --free_;
}

void Cores::release() {
  {
    const std::lock_guard lock(mutex_);
    ++free_;
  }
  freed_.notify_all();
}

void share_range(Cores& cores, std::int64_t items,
                 const std::function<void(std::int64_t first, std::int64_t last)>& fn) {
  if (items <= 0) return;
  run_ranges(cores, items, range_count(cores, items),
             [&](std::int64_t, std::int64_t first, std::int64_t last) { fn(first, last); });
}

void share_sum(Cores& cores, std::int64_t items, std::span<float> sum,
               const std::function<void(std::int64_t first, std::int64_t last, float* out)>& fn) {
  std::fill(sum.begin(), sum.end(), 0.0f);
  if (items <= 0) return;
  const std::int64_t ranges = range_count(cores, items);
  // One range (one core: every block of a pass in parts) writes straight into `sum`.
  if (ranges == 1) return fn(0, items, sum.data());
  PartSums<float> parts(static_cast<int>(ranges), sum.size());
  run_ranges(cores, items, ranges, [&](std::int64_t r, std::int64_t first, std::int64_t last) {
    fn(first, last, parts[static_cast<int>(r)].data());
  });
  parts.add_to(sum);
}

void gemm_by_rows(Cores& cores, std::int64_t rows, std::int64_t cols, std::int64_t inner,
                  float alpha, const float* a, std::int64_t lda, const float* b, std::int64_t ldb,
                  float beta, float* y, std::int64_t ldy) {
  share_range(cores, rows, [&](std::int64_t r0, std::int64_t r1) {
    gemm('N', 'N', r1 - r0, cols, inner, alpha, a + r0, lda, b, ldb, beta, y + r0, ldy);
  });
}

void gemm_inner_sum(Cores& cores, std::int64_t m, std::int64_t cols, std::int64_t inner,
                    const float* a, std::int64_t lda, const float* b, std::int64_t ldb, float* c) {
  share_sum(cores, inner, std::span<float>(c, static_cast<std::size_t>(m * cols)),
            [&](std::int64_t k0, std::int64_t k1, float* out) {
              gemm('T', 'N', m, cols, k1 - k0, 1.0f, a + k0, lda, b + k0, ldb, 0.0f, out, m);
            });
}

}  // namespace kvtraj::pca

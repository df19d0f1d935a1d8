// Work split over the engine's threads: a pass divides its block of frames (or the rows or
// panels of a product) into ranges, and the threads take the ranges in turn. The ranges depend
// only on the thread count and the work, never on timing, and sums over ranges go in range
// order, so results repeat exactly. The matrix products inside a range run on one BLAS thread,
// which keeps both cores busy where OpenBLAS's own threads do not (products with a short output
// and a long inner dimension).
//
// Every thread holds one of the analysis's cores while it works (a range, or the reader's next
// block), so that no more threads run than there are cores: a thread at the end of a block never
// waits for one that the scheduler has set aside mid-range for the reader.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <vector>

#pragma GCC visibility push(default)  // shared with the analysis library: exported by shared builds

namespace kvtraj::pca {

// Runs fn(t, failed) for t = 0 .. threads - 1 at once, fn(0, ...) on the calling thread. Once one
// of them throws, `failed` reads true, for the others to stop early; the first exception is
// rethrown here when all have ended.
void run_threads(int threads,
                 const std::function<void(int t, const std::atomic<bool>& failed)>& fn);

// The cores of an analysis, and its cancel flag: once another thread sets `cancel`, the next
// check (every range, every block) ends the analysis through `die`.
class Cores {
 public:
  explicit Cores(int count, const std::atomic<bool>* cancel = nullptr)
      : count_(count < 1 ? 1 : count), free_(count_), cancel_(cancel) {}
  Cores(const Cores&) = delete;
  Cores& operator=(const Cores&) = delete;

  int count() const { return count_; }
  const std::atomic<bool>* cancel() const { return cancel_; }
  // Dies when the analysis has been cancelled.
  void check() const;
  // Holds a free core, waited for, while it lives. An urgent holder (the reader: the next
  // block is on every thread's path) goes before the others.
  class Held {
   public:
    explicit Held(Cores& cores, bool urgent = false) : cores_(cores) { cores_.acquire(urgent); }
    ~Held() { cores_.release(); }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;

   private:
    Cores& cores_;
  };

 private:
  void acquire(bool urgent);
  void release();

  int count_;
  int free_;
  const std::atomic<bool>* cancel_;
  int urgent_waiting_ = 0;
  std::mutex mutex_;
  std::condition_variable freed_;
};

// Per-part copies of an accumulator (the ranges of share_sum, the parts of
// FrameStream::pass_in_parts), added up in part order once all have ended: the sum does not
// depend on which part ended first.
template <class T>
class PartSums {
 public:
  PartSums(int parts, std::size_t size)
      : parts_(static_cast<std::size_t>(parts), std::vector<T>(size, T{})) {}
  std::span<T> operator[](int part) { return parts_[static_cast<std::size_t>(part)]; }
  // Adds the parts' values to `into`, part after part.
  void add_to(std::span<T> into) const {
    for (const std::vector<T>& part : parts_) {
      for (std::size_t i = 0; i < into.size(); ++i) into[i] += part[i];
    }
  }

 private:
  std::vector<std::vector<T>> parts_;
};

// Splits [0, items) into contiguous ranges, several a core (one range for one core), and runs
// fn(first, last) for every range on as many threads as there are cores, the calling thread
// among them. The ranges must write disjoint outputs. An exception of any range is rethrown here
// once all threads have ended. A cancelled analysis stops before its next range.
void share_range(Cores& cores, std::int64_t items,
                 const std::function<void(std::int64_t first, std::int64_t last)>& fn);

// The same for ranges that each produce sum.size() values: fn(first, last, out) writes its
// range's values to `out`, and `sum` receives their sum over the ranges, in range order.
void share_sum(Cores& cores, std::int64_t items, std::span<float> sum,
               const std::function<void(std::int64_t first, std::int64_t last, float* out)>& fn);

// y = alpha a b + beta y, for a (rows x inner, leading dimension lda), b (inner x cols) and y
// (rows x cols), shared out by rows of a and y.
void gemm_by_rows(Cores& cores, std::int64_t rows, std::int64_t cols, std::int64_t inner,
                  float alpha, const float* a, std::int64_t lda, const float* b, std::int64_t ldb,
                  float beta, float* y, std::int64_t ldy);

// c = aᵀ b (m x cols, leading dimension m), for a (inner x m) and b (inner x cols), shared out by
// ranges of the inner dimension and summed in range order: each range packs its share of a and
// b once, however long the inner dimension.
void gemm_inner_sum(Cores& cores, std::int64_t m, std::int64_t cols, std::int64_t inner,
                    const float* a, std::int64_t lda, const float* b, std::int64_t ldb, float* c);

}  // namespace kvtraj::pca

#pragma GCC visibility pop

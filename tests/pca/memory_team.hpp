// Several processes simulated by threads of one: each thread runs the engine on its own
// contiguous share of the frames with a Reducer of its own, and the sums of the shares meet in
// memory as MPI_Allreduce's would (every member gets the same sum, added in rank order).
#pragma once

#include <algorithm>
#include <atomic>
#include <barrier>
#include <exception>
#include <span>
#include <stdexcept>
#include <thread>
#include <vector>

#include "pca/pca.hpp"

namespace kvtraj::pca::testing {

class MemoryTeam {
 public:
  explicit MemoryTeam(int size) : barrier_(size), slots_(static_cast<std::size_t>(size)) {}

  // The engine's analysis of frames [options.first, options.last) of `reader`, cut into `size`
  // shares analysed at once; the members' Components, in rank order. The first failure of any
  // member is rethrown.
  std::vector<Components> analyse(FrameReader& reader, const Options& options) {
    const auto size = static_cast<int>(slots_.size());
    const std::int64_t first = options.first;
    const std::int64_t frames = (options.last < 0 ? reader.frames() : options.last) - first;
    std::vector<Components> out(slots_.size());
    std::vector<std::exception_ptr> errors(slots_.size());
    std::vector<std::thread> threads;
    for (int rank = 0; rank < size; ++rank) {
      threads.emplace_back([&, rank] {
        Member member(*this, rank);
        Options share = options;
        share.first = first + frames * rank / size;
        share.last = first + frames * (rank + 1) / size;
        try {
          out[static_cast<std::size_t>(rank)] = pca::analyse(reader, share, {}, &member);
        } catch (...) {
          errors[static_cast<std::size_t>(rank)] = std::current_exception();
          failed_ = true;
          barrier_.arrive_and_drop();
        }
      });
    }
    for (std::thread& t : threads) t.join();
    for (const std::exception_ptr& e : errors) {
      if (e) std::rethrow_exception(e);
    }
    return out;
  }

 private:
  class Member : public Reducer {
   public:
    Member(MemoryTeam& team, int rank) : team_(team), rank_(rank) {}
    void sum(std::span<double> values) override { team_.sum(rank_, values); }
    void sum(std::span<float> values) override { team_.sum(rank_, values); }
    bool leads() const override { return rank_ == 0; }

   private:
    MemoryTeam& team_;
    int rank_;
  };

  // Every member posts its values, all add them up in rank order, and each writes the sum back
  // once all have read. A member that has failed leaves the barrier; the others then fail too.
  template <class T>
  void sum(int rank, std::span<T> values) {
    slots_[static_cast<std::size_t>(rank)] = values.data();
    barrier_.arrive_and_wait();
    if (failed_) throw std::runtime_error("another member failed");
    std::vector<T> total(values.size(), T{0});
    for (const void* slot : slots_) {
      const T* part = static_cast<const T*>(slot);
      for (std::size_t i = 0; i < total.size(); ++i) total[i] += part[i];
    }
    barrier_.arrive_and_wait();
    std::copy(total.begin(), total.end(), values.begin());
  }

  std::barrier<> barrier_;
  std::vector<const void*> slots_;
  std::atomic<bool> failed_ = false;
};

}  // namespace kvtraj::pca::testing

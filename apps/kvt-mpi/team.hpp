// The processes of an MPI job as a kvt compress team: partial sums reduced with MPI_Allreduce,
// projections gathered on rank 0, and failures agreed on. Every collective is preceded by an
// agreement on an error flag, so a process that fails joins the others at their next collective
// instead of leaving them waiting: all then end with the first failing rank's message.
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "apps/kvt/kvt_app.hpp"
#include "pca/pca.hpp"

namespace kvtraj::mpi {

// Thrown on the processes that learn at a collective that another one has failed.
struct TeamFailure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class MpiTeam final : public app::Team, public pca::Reducer {
 public:
  MpiTeam();
  int rank() const override { return rank_; }
  int size() const override { return size_; }
  pca::Reducer* reducer() override { return this; }
  void gather(pca::Components& c, std::int64_t first, std::int64_t last) override;

  void sum(std::span<double> values) override;
  void sum(std::span<float> values) override;
  bool leads() const override { return rank_ == 0; }

  // Called by a process that has failed with `message`, unless the team has finished: joins the
  // others' next collective and returns the message every process agrees on (the lowest failing
  // rank's).
  std::string fail(const std::string& message);
  // True after the last collective: failures from then on are this process's alone.
  bool finished() const { return finished_; }
  // Bytes of every reduction so far, in order.
  const std::vector<std::uint64_t>& reductions() const { return reductions_; }

 private:
  void check();
  std::string agree(bool failed, const std::string& message);

  int rank_ = 0;
  int size_ = 1;
  bool finished_ = false;
  std::vector<std::uint64_t> reductions_;
};

}  // namespace kvtraj::mpi

#include "apps/kvt-mpi/team.hpp"

#include <mpi.h>

#include <algorithm>
#include <limits>

namespace kvtraj::mpi {
namespace {

// MPI counts are int: long arrays are reduced piece by piece.
constexpr std::size_t kPiece = std::size_t{1} << 28;

template <class T>
void allreduce(std::span<T> values, MPI_Datatype type) {
  for (std::size_t at = 0; at < values.size(); at += kPiece) {
    const auto count = static_cast<int>(std::min(kPiece, values.size() - at));
    MPI_Allreduce(MPI_IN_PLACE, values.data() + at, count, type, MPI_SUM, MPI_COMM_WORLD);
  }
}

}  // namespace

MpiTeam::MpiTeam() {
  MPI_Comm_rank(MPI_COMM_WORLD, &rank_);
  MPI_Comm_size(MPI_COMM_WORLD, &size_);
}

void MpiTeam::check() {
  int flag = 0;
  MPI_Allreduce(MPI_IN_PLACE, &flag, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
  if (flag != 0) throw TeamFailure(agree(false, {}));
}

std::string MpiTeam::fail(const std::string& message) {
  int flag = 1;
  MPI_Allreduce(MPI_IN_PLACE, &flag, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
  return agree(true, message);
}

std::string MpiTeam::agree(bool failed, const std::string& message) {
  int from = failed ? rank_ : size_;
  MPI_Allreduce(MPI_IN_PLACE, &from, 1, MPI_INT, MPI_MIN, MPI_COMM_WORLD);
  int length = rank_ == from ? static_cast<int>(message.size()) : 0;
  MPI_Bcast(&length, 1, MPI_INT, from, MPI_COMM_WORLD);
  std::string text = rank_ == from ? message : std::string(static_cast<std::size_t>(length), ' ');
  MPI_Bcast(text.data(), length, MPI_CHAR, from, MPI_COMM_WORLD);
  finished_ = true;
  return text;
}

// Whatever may fail (an allocation) comes before the agreement on the error flag: once it has
// passed, the others are in the reduction itself and could not be told.
void MpiTeam::sum(std::span<double> values) {
  reductions_.push_back(values.size_bytes());
  check();
  allreduce(values, MPI_DOUBLE);
}

void MpiTeam::sum(std::span<float> values) {
  reductions_.push_back(values.size_bytes());
  check();
  allreduce(values, MPI_FLOAT);
}

void MpiTeam::gather(pca::Components& c, std::int64_t first, std::int64_t last) {
  // Every share is below 2^31 frames: the KVT file's limit, checked before the analysis.
  const int mine = static_cast<int>(last - first);
  std::vector<int> counts(static_cast<std::size_t>(size_)), offsets(counts.size());
  std::vector<float> all(rank_ == 0 ? static_cast<std::size_t>(c.frames) * c.kept : 0);
  check();
  finished_ = true;
  MPI_Gather(&mine, 1, MPI_INT, counts.data(), 1, MPI_INT, 0, MPI_COMM_WORLD);
  for (std::size_t r = 1; r < counts.size(); ++r) offsets[r] = offsets[r - 1] + counts[r - 1];
  for (std::int32_t k = 0; k < c.kept; ++k) {
    MPI_Gatherv(c.proj.data() + static_cast<std::size_t>(k) * mine, mine, MPI_FLOAT,
                all.data() + static_cast<std::size_t>(k) * c.frames, counts.data(), offsets.data(),
                MPI_FLOAT, 0, MPI_COMM_WORLD);
  }
  c.proj = std::move(all);
}

}  // namespace kvtraj::mpi

// How many vectors to keep: by count, by share of the variance or by expected RMS error.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <string>

#include "pca/pca.hpp"
#include "support/fatal.hpp"

namespace kvtraj::pca {
namespace {

// Eigenvalues below this fraction of the largest are rounding noise of a single-precision
// matrix (directions the snapshots do not span), not variance.
constexpr double kRankTolerance = 4.0 * FLT_EPSILON;

}  // namespace

const char* solver_name(Solver solver) {
  switch (solver) {
    case Solver::exact:
      return "exact";
    case Solver::randomized:
      return "randomized";
    case Solver::automatic:
      break;
  }
  return "auto";
}

std::optional<Solver> solver_from_name(std::string_view name) {
  for (const Solver s : {Solver::automatic, Solver::exact, Solver::randomized}) {
    if (name == solver_name(s)) return s;
  }
  return std::nullopt;
}

std::int32_t numeric_rank(std::span<const float> eigenvalues) {
  if (eigenvalues.empty() || !(eigenvalues[0] > 0.0f)) return 0;
  const double floor = static_cast<double>(eigenvalues[0]) * kRankTolerance;
  std::int32_t rank = 0;
  while (rank < static_cast<std::int32_t>(eigenvalues.size()) && eigenvalues[rank] > floor) ++rank;
  return rank;
}

double expected_rmsd(std::span<const float> eigenvalues, double total, std::int32_t kept,
                     std::int32_t natoms) {
  double captured = 0.0;
  for (std::int32_t k = 0; k < kept; ++k) captured += eigenvalues[k];
  return std::sqrt(std::max(0.0, total - captured) / std::max(natoms, 1));
}

std::int32_t choose_vectors(std::span<const float> eigenvalues, double total, std::int32_t rank,
                            std::int32_t natoms, const VectorChoice& choice) {
  if (choice.kind == VectorChoice::count) {
    if (choice.value > rank) {
      die("--vectors " + std::to_string(static_cast<long long>(choice.value)) +
          " is more than the " + std::to_string(rank) + " vectors these snapshots hold");
    }
    return static_cast<std::int32_t>(choice.value);
  }
  if (choice.kind == VectorChoice::at_most) {
    return static_cast<std::int32_t>(std::min<double>(choice.value, rank));
  }
  double captured = 0.0;
  for (std::int32_t k = 0; k < rank; ++k) {
    const bool enough = choice.kind == VectorChoice::quality
                            ? captured >= choice.value / 100.0 * total
                            : expected_rmsd(eigenvalues, total, k, natoms) <= choice.value;
    if (enough) return k;
    captured += eigenvalues[k];
  }
  return rank;
}

}  // namespace kvtraj::pca

// Principal components of a fitted trajectory held in memory: the iterative fit onto the
// average, the second-moment matrix (the 3N x 3N covariance, or the F x F Gram matrix of the
// snapshots when there are fewer snapshots than coordinates: both have the same non-zero
// eigenvalues), its spectrum, the choice of how many vectors to keep, and the projections.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "apps/kvt/kvt_app.hpp"

namespace kvtraj::app {

// The iterative fit stops when the average moves by less than this RMS distance (Å) between
// two rounds, or after this many rounds of fitting.
inline constexpr double kFitTolerance = 1.0e-4;
inline constexpr int kMaxFitRounds = 10;

struct FitReport {
  int rounds = 0;         // fits of the whole trajectory
  double movement = 0.0;  // RMS movement of the average in the last round (Å)
};

// Fits every snapshot onto the first, then repeatedly onto the average of the fitted
// snapshots; `average` receives the final average. Snapshots are 3 * natoms reals each.
FitReport fit_iteratively(std::span<float> traj, std::int32_t natoms, std::int32_t nframes,
                          std::span<float> average, Progress& progress);

// The largest matrix the eigen-solver's 32-bit sizes allow (n * n must fit in 31 bits).
inline constexpr std::int64_t kMaxMatrixOrder = 46340;

// Second moments of centred snapshots `xc` (n coordinates by `frames` snapshots, column per
// snapshot), divided by the number of snapshots and accumulated in double precision:
// the covariance xc xcᵀ / F (n x n), or with `gram` the Gram matrix xcᵀ xc / F (F x F).
std::vector<float> second_moments(std::span<const float> xc, std::int64_t n, std::int64_t frames,
                                  bool gram, Progress& progress);

// How many vectors to keep.
struct VectorChoice {
  enum Kind { count, quality, rmsd } kind = quality;
  double value = 90.0;  // K, a percentage of the variance, or an RMS error in Å
};

// The number of eigenvalues (descending) that stand clear of rounding noise.
std::int32_t numeric_rank(std::span<const float> eigenvalues);

// Expected RMS reconstruction error per atom (Å) when the first `kept` vectors are kept:
// the discarded variance spread over the atoms.
double expected_rmsd(std::span<const float> eigenvalues, double total, std::int32_t kept,
                     std::int32_t natoms);

// The number of vectors to keep, at most `rank`; a count above it is an error.
std::int32_t choose_vectors(std::span<const float> eigenvalues, double total, std::int32_t rank,
                            std::int32_t natoms, const VectorChoice& choice);

// Trace of an order x order matrix (the total variance of a second-moment matrix).
double trace(std::span<const float> matrix, std::int64_t order);

// The first `kept` unit eigenvectors of the covariance (n x kept, column per vector). For a
// Gram matrix, its eigenvectors u give the covariance's as xc u, normalised.
std::vector<float> covariance_vectors(std::span<const float> matrix, std::int64_t order,
                                      std::int32_t kept, bool gram, std::span<const float> xc,
                                      std::int64_t n);

// Projections of every centred snapshot on every vector: frames x kept, column per vector.
std::vector<float> projections(std::span<const float> xc, std::int64_t n, std::int64_t frames,
                               std::span<const float> vectors, std::int32_t kept);

// Subtracts `average` from every snapshot of `traj`.
void subtract_average(std::span<float> traj, std::span<const float> average);

}  // namespace kvtraj::app

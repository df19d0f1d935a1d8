// An independent least-squares fit for the tests: Horn's quaternion method in double precision,
// with a classical Jacobi eigen-solver of its own for the 4 x 4 key matrix, plus helpers to make
// random sets and rigid motions.
#pragma once

#include <array>
#include <cstdint>
#include <random>
#include <span>
#include <vector>

namespace kvtraj::testing {

struct ReferenceFit {
  std::array<double, 9> rot{};  // column-major, reference ~ rot * moving + trans
  std::array<double, 3> trans{};
  double rms = 0.0;  // measured by applying rot and trans to the moving set
};

// Weighted fit of `moving` onto `reference` (weights empty: all 1).
ReferenceFit reference_fit(std::span<const float> reference, std::span<const float> moving,
                           std::span<const float> weights = {});

// Eigen-decomposition of a symmetric n x n matrix (column-major, full storage) by classical
// Jacobi rotations: eigenvalues ascending, eigenvectors in the columns of `vectors`.
void symmetric_eigen(std::vector<double> a, int n, std::vector<double>& values,
                     std::vector<double>& vectors);

// A proper rotation from an axis (need not be unit) and an angle in radians.
std::array<double, 9> rotation(std::array<double, 3> axis, double angle);

// 3 x n coordinates, normal with the given spread around `centre`.
std::vector<float> random_set(std::mt19937& rng, int n, double spread, double centre = 0.0);

// rot * x + trans for every atom, in double, rounded to float.
std::vector<float> moved(std::span<const float> set, const std::array<double, 9>& rot,
                         const std::array<double, 3>& trans);

// Weighted RMS distance between two sets (weights empty: all 1).
double rms_distance(std::span<const float> a, std::span<const float> b,
                    std::span<const float> weights = {});

// Largest deviation of rot^T rot from the identity, and the determinant.
double orthogonality_error(std::span<const float> rot);
double determinant(std::span<const float> rot);

}  // namespace kvtraj::testing

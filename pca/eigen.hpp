// One factorisation of a symmetric matrix for both needs of the analysis: all eigenvalues (to
// choose how many vectors to keep and to report the captured variance) and the eigenvectors of
// the largest ones. The matrix is tridiagonalised once (ssytrd); the eigenvalues come from the
// tridiagonal form (ssterf), the kept vectors from MRRR on it (sstemr) carried back by the
// reflectors (sormtr). Twice as fast as two full calls of ssyevr, and no copy of the matrix.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace kvtraj::pca {

struct Eigenpairs {
  std::vector<float> values;  // all, largest first
  std::int32_t kept = 0;
  std::vector<float> vectors;  // order x kept, column per vector, largest first
};

// `a`: the lower triangle of a symmetric order x order matrix (leading dimension order), which
// is destroyed. `choose` receives all eigenvalues and returns how many vectors to compute.
Eigenpairs factorise(float* a, std::int64_t order,
                     const std::function<std::int32_t(std::span<const float>)>& choose);

// Eigenvalues (descending) and eigenvectors of a small dense symmetric matrix in double.
void small_eigen(std::vector<double>& a, std::int64_t order, std::vector<double>& values);

}  // namespace kvtraj::pca

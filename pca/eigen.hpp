// One factorisation of a symmetric matrix for both needs of the analysis: all eigenvalues (to
// choose how many vectors to keep and to report the captured variance) and the eigenvectors of
// the largest ones. The matrix is tridiagonalised once in double precision (dsytrd); the
// eigenvalues come from the tridiagonal form (dsterf), the kept vectors from MRRR on it (dstemr)
// carried back by the reflectors (dormtr). Twice as fast as two full calls of dsyevr, and no copy
// of the matrix. Single precision would lose the smaller kept eigenvalues of a large matrix: its
// rounding is relative to the total variance, not to each eigenvalue.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace kvtraj::pca {

struct Eigenpairs {
  std::vector<float> values;  // all, largest first
  std::int32_t kept = 0;
  std::vector<double> vectors;  // order x kept, column per vector, largest first
};

// `a`: the upper triangle of a symmetric order x order matrix (leading dimension lda), which is
// destroyed; the strictly lower triangle is never read or written. `choose` receives all
// eigenvalues and returns how many vectors to compute.
Eigenpairs factorise(double* a, std::int64_t order, std::int64_t lda,
                     const std::function<std::int32_t(std::span<const float>)>& choose);

// Eigenvalues (descending) and eigenvectors of a small dense symmetric matrix in double.
void small_eigen(std::vector<double>& a, std::int64_t order, std::vector<double>& values);

}  // namespace kvtraj::pca

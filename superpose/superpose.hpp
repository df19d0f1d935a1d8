// Least-squares superposition of coordinate sets.
//  - `qkfit`: from the 3 x 3 correlation matrix of two centred sets, the proper rotation that
//    best carries the moving set onto the reference and the signed sum of singular values from
//    which the residual RMS deviation follows;
//  - `eigen` / `esort`: cyclic Jacobi diagonalisation of a packed symmetric matrix and the
//    descending sort of its eigenvalues (with their eigenvectors);
//  - `superpose` / `superposew`: unweighted and weighted fits of a moving set onto a reference,
//    giving the RMS deviation and, on request, the rotation and translation; `FitReference`:
//    the unweighted fits of many sets onto one reference, in half the time.
// Matrices are column-major; the rotation maps moving coordinates onto reference coordinates:
// reference ~ rot * moving + trans.
//
// Threads: every routine works on its arguments and local storage only, so any number of threads
// may fit at once.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#pragma GCC visibility push(default)  // the installed interface, exported by shared builds

namespace kvtraj {

using Matrix3d = std::array<double, 9>;  // 3 x 3, column-major: (i,j) at i + 3j (0-based)
using Matrix3f = std::array<float, 9>;
using Vector3f = std::array<float, 3>;

// Best rotation for the correlation matrix `u` (u(i,j) = sum of reference i times moving j over
// the centred sets, divided by the atom count or weight sum). `rtsum` receives
// sigma1 + sigma2 +/- sigma3; with `mode` != 0 `rot` receives the rotation, with `mode` == 0 it
// is left untouched and the singular values come from a closed form. Degenerate inputs (a zero
// matrix, all atoms on one line) still give a proper rotation: the identity for a zero matrix.
void qkfit(const Matrix3d& u, double& rtsum, Matrix3f& rot, std::int32_t mode);

// Jacobi diagonalisation of the n x n symmetric matrix whose upper triangle `a` holds column by
// column ((i,j), i <= j, at i + j(j+1)/2, 0-based). On return the diagonal of `a` holds the
// eigenvalues (unsorted) and, when `mv` != 1, `r` (n x n, column-major) the eigenvectors.
void eigen(std::span<double> a, std::span<double> r, std::int32_t n, std::int32_t mv);

// Sorts the diagonal of packed `a` into descending order, moving the columns of `r` along when
// `mv` != 1. Equal eigenvalues keep their order.
void esort(std::span<double> a, std::span<double> r, std::int32_t n, std::int32_t mv);

// Fits `moving` (3 x n: x, y, z per atom) onto `reference`. `rms` receives the RMS deviation
// after the best fit; with `mode` != 0, `rot` and `trans` receive the transform. Neither set is
// changed. n <= 0 gives rms 0 (and with `mode` != 0 the identity and a zero translation).
void superpose(std::int32_t n, std::span<const float> reference, std::span<const float> moving,
               Matrix3f& rot, Vector3f& trans, float& rms, std::int32_t mode);

// A reference prepared for unweighted fits of many sets onto it, as a trajectory is fitted: it
// is centred and laid out once so that each fit takes a few vector products per four atoms. The
// transforms agree with superpose's to single-precision rounding (not bit for bit).
class FitReference {
 public:
  FitReference(std::int32_t n, std::span<const float> reference);
  // As superpose(n, reference, moving, rot, trans, rms, mode).
  void fit(std::span<const float> moving, Matrix3f& rot, Vector3f& trans, float& rms,
           std::int32_t mode) const;

 private:
  std::size_t n_ = 0;
  std::vector<float> faced_;              // the centred reference, laid out against the moving set
  std::array<double, 3> centre_{};        // the reference's centre
  std::array<double, 3> centred_sums_{};  // sums of the centred coordinates (rounding only)
  double centred_squares_ = 0.0;
};

// The same with one weight per atom; a weight of 0 removes its atom from the fit. A zero weight
// sum is treated like n <= 0.
void superposew(std::int32_t n, std::span<const float> reference, std::span<const float> moving,
                Matrix3f& rot, Vector3f& trans, float& rms, std::int32_t mode,
                std::span<const float> weights);

}  // namespace kvtraj

#pragma GCC visibility pop

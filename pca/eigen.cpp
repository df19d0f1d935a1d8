#include "pca/eigen.hpp"

#include <algorithm>

#include "pca/blas.hpp"

namespace kvtraj::pca {
namespace {

// LAPACK's ascending order to ours: the columns (`rows` long) of `a` in reverse order.
void reverse_columns(std::vector<double>& a, std::int64_t rows, std::int64_t columns) {
  for (std::int64_t j = 0; j < columns / 2; ++j) {
    std::swap_ranges(a.begin() + j * rows, a.begin() + (j + 1) * rows,
                     a.begin() + (columns - 1 - j) * rows);
  }
}

}  // namespace

Eigenpairs factorise(double* a, std::int64_t order, std::int64_t lda,
                     const std::function<std::int32_t(std::span<const float>)>& choose) {
  Eigenpairs result;
  const lapack_int n = blas_int(order), ld = blas_int(lda);
  if (n == 0) {
    result.kept = choose(result.values);
    return result;
  }
  const auto size = static_cast<std::size_t>(n);
  std::vector<double> d(size), e(size), tau(size), work;
  std::vector<lapack_int> iwork;
  with_workspace("dsytrd", work, iwork, [&](lapack_int& lwork, lapack_int&, lapack_int& info) {
    LAPACK_dsytrd("U", &n, a, &ld, d.data(), e.data(), tau.data(), work.data(), &lwork, &info);
  });

  // dsterf overwrites its diagonals; dstemr needs them afterwards.
  std::vector<double> ascending = d, off = e;
  lapack_int info = 0;
  LAPACK_dsterf(&n, ascending.data(), off.data(), &info);
  check_info("dsterf", info);
  result.values.assign(ascending.rbegin(), ascending.rend());
  result.kept = choose(result.values);
  if (result.kept == 0) return result;

  const lapack_int kept = result.kept, il = n - kept + 1;
  const double vl = 0.0, vu = 0.0;
  lapack_int found = 0, tryrac = 1;
  std::vector<double> w(size), z(size * static_cast<std::size_t>(kept));
  std::vector<lapack_int> isuppz(2 * static_cast<std::size_t>(kept));
  with_workspace("dstemr", work, iwork,
                 [&](lapack_int& lwork, lapack_int& liwork, lapack_int& info) {
                   LAPACK_dstemr("V", "I", &n, d.data(), e.data(), &vl, &vu, &il, &n, &found,
                                 w.data(), z.data(), &n, &kept, isuppz.data(), &tryrac, work.data(),
                                 &lwork, iwork.data(), &liwork, &info);
                 });
  with_workspace("dormtr", work, iwork, [&](lapack_int& lwork, lapack_int&, lapack_int& info) {
    LAPACK_dormtr("L", "U", "N", &n, &kept, a, &ld, tau.data(), z.data(), &n, work.data(), &lwork,
                  &info);
  });
  reverse_columns(z, n, kept);
  result.vectors = std::move(z);
  return result;
}

void small_eigen(std::vector<double>& a, std::int64_t order, std::vector<double>& values) {
  const lapack_int n = blas_int(order);
  values.assign(static_cast<std::size_t>(n), 0.0);
  if (n == 0) return;
  std::vector<double> work;
  std::vector<lapack_int> iwork;
  with_workspace("dsyevd", work, iwork,
                 [&](lapack_int& lwork, lapack_int& liwork, lapack_int& info) {
                   LAPACK_dsyevd("V", "L", &n, a.data(), &n, values.data(), work.data(), &lwork,
                                 iwork.data(), &liwork, &info);
                 });
  // Descending, columns along.
  std::reverse(values.begin(), values.end());
  reverse_columns(a, n, n);
}

}  // namespace kvtraj::pca

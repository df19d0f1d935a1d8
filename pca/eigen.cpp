#include "pca/eigen.hpp"

#include <algorithm>

#include "pca/blas.hpp"

namespace kvtraj::pca {

Eigenpairs factorise(float* a, std::int64_t order,
                     const std::function<std::int32_t(std::span<const float>)>& choose) {
  Eigenpairs result;
  const lapack_int n = blas_int(order);
  if (n == 0) {
    result.kept = choose(result.values);
    return result;
  }
  const auto size = static_cast<std::size_t>(n);
  std::vector<float> d(size), e(size), tau(size), work;
  std::vector<lapack_int> iwork;
  with_workspace("ssytrd", work, iwork, [&](lapack_int& lwork, lapack_int&, lapack_int& info) {
    LAPACK_ssytrd("L", &n, a, &n, d.data(), e.data(), tau.data(), work.data(), &lwork, &info);
  });

  // ssterf overwrites its diagonals; sstemr needs them afterwards.
  std::vector<float> ascending = d, off = e;
  lapack_int info = 0;
  LAPACK_ssterf(&n, ascending.data(), off.data(), &info);
  check_info("ssterf", info);
  result.values.assign(ascending.rbegin(), ascending.rend());
  result.kept = choose(result.values);
  if (result.kept == 0) return result;

  const lapack_int kept = result.kept, il = n - kept + 1;
  const float vl = 0.0f, vu = 0.0f;
  lapack_int found = 0, tryrac = 1;
  std::vector<float> w(size), z(size * static_cast<std::size_t>(kept));
  std::vector<lapack_int> isuppz(2 * static_cast<std::size_t>(kept));
  with_workspace("sstemr", work, iwork,
                 [&](lapack_int& lwork, lapack_int& liwork, lapack_int& info) {
                   LAPACK_sstemr("V", "I", &n, d.data(), e.data(), &vl, &vu, &il, &n, &found,
                                 w.data(), z.data(), &n, &kept, isuppz.data(), &tryrac, work.data(),
                                 &lwork, iwork.data(), &liwork, &info);
                 });
  with_workspace("sormtr", work, iwork, [&](lapack_int& lwork, lapack_int&, lapack_int& info) {
    LAPACK_sormtr("L", "L", "N", &n, &kept, a, &n, tau.data(), z.data(), &n, work.data(), &lwork,
                  &info);
  });
  // sstemr returns ascending order: the largest comes first in ours.
  result.vectors.resize(z.size());
  for (lapack_int j = 0; j < kept; ++j) {
    std::copy_n(z.begin() + static_cast<std::ptrdiff_t>(kept - 1 - j) * n, n,
                result.vectors.begin() + static_cast<std::ptrdiff_t>(j) * n);
  }
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
  for (lapack_int j = 0; j < n / 2; ++j) {
    std::swap_ranges(a.begin() + static_cast<std::ptrdiff_t>(j) * n,
                     a.begin() + static_cast<std::ptrdiff_t>(j + 1) * n,
                     a.begin() + static_cast<std::ptrdiff_t>(n - 1 - j) * n);
  }
}

}  // namespace kvtraj::pca

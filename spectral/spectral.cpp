// evals / evecs: workspace query, private copy, ssyevr, and the reversal to descending order.
#include <lapack.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "spectral/spectral.hpp"
#include "support/fatal.hpp"

namespace kvtraj {
namespace {

// Largest order whose N * N elements a 32-bit LAPACK can index.
constexpr std::int64_t kMaxOrder = 46340;
// What ssyevr reports for an eigenvalue index range outside 1..N.
constexpr lapack_int kBadIndexRange = -9;

[[noreturn]] void report(lapack_int info) {
  die(stdout, "SSYEVR returns with info= " + std::to_string(info));
}

lapack_int order_of(ConstMatrixView a) {
  if (a.rows < 0 || a.cols < a.rows) {
    die(stdout, "spectral: the matrix is not square (" + std::to_string(a.rows) + " rows, " +
                    std::to_string(a.cols) + " columns)");
  }
  if (a.rows > kMaxOrder) {
    die(stdout, "spectral: matrix order " + std::to_string(a.rows) +
                    " exceeds 46340, the limit of 32-bit LAPACK sizes");
  }
  return static_cast<lapack_int>(a.rows);
}

// The leading n x n block of `a`, column by column, into contiguous storage.
void copy_matrix(ConstMatrixView a, std::int64_t n, float* out) {
  if (a.row_stride == 1 && a.col_stride == n) {
    std::memcpy(out, a.data, static_cast<std::size_t>(n * n) * sizeof(float));
    return;
  }
  for (std::int64_t j = 0; j < n; ++j) {
    float* column = out + j * n;
    if (a.row_stride == 1) {
      std::memcpy(column, &a(0, j), static_cast<std::size_t>(n) * sizeof(float));
    } else {
      for (std::int64_t i = 0; i < n; ++i) column[i] = a(i, j);
    }
  }
}

// Scratch that is written before it is read (the copy of the matrix, the solver's eigenvector
// block): left uninitialised, since zeroing N * N reals first would cost as much as the copy.
std::unique_ptr<float[]> uninitialised(std::size_t n) {
  try {
    return std::make_unique_for_overwrite<float[]>(n);
  } catch (const std::bad_alloc&) {
    die("Memory allocation error");
  }
}

// One ssyevr problem: the fixed arguments and the scratch of one call.
struct Problem {
  char jobz = 'V';
  char range = 'I';
  char uplo = 'U';
  lapack_int n = 0;
  lapack_int il = 1;
  lapack_int iu = 0;
  std::unique_ptr<float[]> a;  // the private copy, leading dimension n
  std::vector<float> w;
  std::unique_ptr<float[]> z;  // leading dimension n
  std::vector<lapack_int> isuppz;
  std::vector<float> work = std::vector<float>(1);
  std::vector<lapack_int> iwork = std::vector<lapack_int>(1);
  lapack_int lwork = -1;
  lapack_int liwork = -1;
  lapack_int found = 0;  // M, the number of eigenvalues found
};

void call(Problem& p) {
  const float vl = 0.0f, vu = 0.0f, abstol = 0.0f;
  lapack_int info = 0;
  LAPACK_ssyevr(&p.jobz, &p.range, &p.uplo, &p.n, p.a.get(), &p.n, &vl, &vu, &p.il, &p.iu, &abstol,
                &p.found, p.w.data(), p.z.get(), &p.n, p.isuppz.data(), p.work.data(), &p.lwork,
                p.iwork.data(), &p.liwork, &info);
  if (info != 0) report(info);
}

// The workspace query (always JOBZ "V", RANGE "I", UPLO "U"), then workspace of the sizes found.
void query_workspace(Problem& p) {
  p.jobz = 'V';
  p.range = 'I';
  p.uplo = 'U';
  p.lwork = -1;
  p.liwork = -1;
  call(p);
  p.lwork = static_cast<lapack_int>(p.work[0]);
  p.liwork = p.iwork[0];
  p.work = allocate_or_die<float>(static_cast<std::size_t>(p.lwork));
  p.iwork = allocate_or_die<lapack_int>(static_cast<std::size_t>(p.liwork));
}

Problem make_problem(lapack_int n, lapack_int il, std::size_t z_size) {
  Problem p;
  p.n = n;
  p.il = il;
  p.iu = n;
  const auto order = static_cast<std::size_t>(n);
  p.a = uninitialised(order * order);
  p.w = allocate_or_die<float>(order);
  p.z = uninitialised(z_size);
  p.isuppz = allocate_or_die<lapack_int>(2 * order);
  return p;
}

}  // namespace

void evals(VectorView w, ConstMatrixView a) {
  const lapack_int n = order_of(a);
  if (w.size < n) die(stdout, "evals: the eigenvalue vector is shorter than the matrix order");
  if (n == 0) return;
  Problem p = make_problem(n, 1, 1);
  query_workspace(p);
  copy_matrix(a, n, p.a.get());
  p.jobz = 'N';
  p.range = 'A';
  p.uplo = 'U';
  call(p);
  for (lapack_int i = 0; i < n; ++i) w(i) = p.w[n - 1 - i];
}

void evecs(MatrixView z, ConstMatrixView a, std::int32_t nvec) {
  const lapack_int n = order_of(a);
  if (n == 0 && nvec == 0) return;
  if (nvec < 1 || nvec > n) report(kBadIndexRange);
  if (z.rows < n || z.cols < nvec) {
    die(stdout, "evecs: the eigenvector matrix is smaller than N x nvec");
  }
  const auto order = static_cast<std::size_t>(n);
  Problem p = make_problem(n, n - nvec + 1, order * static_cast<std::size_t>(nvec));
  query_workspace(p);
  copy_matrix(a, n, p.a.get());
  p.jobz = 'V';
  p.range = 'I';
  p.uplo = 'L';
  call(p);
  for (std::int32_t j = 0; j < nvec; ++j) {
    const float* column = p.z.get() + static_cast<std::size_t>(nvec - 1 - j) * order;
    for (lapack_int i = 0; i < n; ++i) z(i, j) = column[i];
  }
}

}  // namespace kvtraj

// The project's one binding to BLAS and LAPACK: the Fortran routines the engine calls (through
// LAPACK's own lapack.h for the solvers, plain prototypes for the two matrix products) and thin
// wrappers that take 64-bit sizes and check that they fit LAPACK's 32-bit integers.
#pragma once

#include <lapack.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" {
void dgemm_(const char* transa, const char* transb, const int* m, const int* n, const int* k,
            const double* alpha, const double* a, const int* lda, const double* b, const int* ldb,
            const double* beta, double* c, const int* ldc, std::size_t, std::size_t);
void sgemm_(const char* transa, const char* transb, const int* m, const int* n, const int* k,
            const float* alpha, const float* a, const int* lda, const float* b, const int* ldb,
            const float* beta, float* c, const int* ldc, std::size_t, std::size_t);
// OpenBLAS only; weak so that the project still links against the reference BLAS.
void openblas_set_num_threads(int threads) __attribute__((weak));
}

#pragma GCC visibility push(default)  // shared with the analysis library: exported by shared builds

namespace kvtraj::pca {

// n as a LAPACK integer; a size beyond 32 bits is fatal (the caller checked its budget first).
lapack_int blas_int(std::int64_t n);

// C = alpha op(A) op(B) + beta C, column-major, op given as 'N' or 'T'.
void gemm(char ta, char tb, std::int64_t m, std::int64_t n, std::int64_t k, float alpha,
          const float* a, std::int64_t lda, const float* b, std::int64_t ldb, float beta, float* c,
          std::int64_t ldc);
void gemm(char ta, char tb, std::int64_t m, std::int64_t n, std::int64_t k, double alpha,
          const double* a, std::int64_t lda, const double* b, std::int64_t ldb, double beta,
          double* c, std::int64_t ldc);

// Threads BLAS may use (OpenBLAS); ignored by other BLAS libraries.
void set_blas_threads(int threads);

// Under an address-space limit (ulimit -v), OpenBLAS spins forever when it cannot map its
// buffers. Before the work starts, this maps `bytes` (what the solver and the blocks need) plus
// room for the buffers of `threads` BLAS threads, without touching them, and ends the run with
// "out of memory: ..." and the size when that fails.
void require_address_space(std::uint64_t bytes, int threads);

// Ends the computation when a LAPACK routine reports failure.
void check_info(const char* routine, lapack_int info);

// Runs a LAPACK routine that sizes its own workspaces: first with lwork = liwork = -1 to learn
// the sizes, then with `work` and `iwork` that large. `call(lwork, liwork, info)` makes the
// call, passing work.data() and iwork.data(); a routine without iwork ignores liwork.
template <class Real, class Call>
void with_workspace(const char* routine, std::vector<Real>& work, std::vector<lapack_int>& iwork,
                    const Call& call) {
  lapack_int lwork = -1, liwork = -1, info = 0;
  work.assign(1, Real{0});
  iwork.assign(1, 1);
  call(lwork, liwork, info);
  check_info(routine, info);
  lwork = static_cast<lapack_int>(work[0]);
  liwork = iwork[0];
  work.resize(static_cast<std::size_t>(std::max<lapack_int>(lwork, 1)));
  iwork.resize(static_cast<std::size_t>(std::max<lapack_int>(liwork, 1)));
  call(lwork, liwork, info);
  check_info(routine, info);
}

}  // namespace kvtraj::pca

#pragma GCC visibility pop

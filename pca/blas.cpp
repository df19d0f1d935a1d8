#include "pca/blas.hpp"

#include <sys/mman.h>
#include <sys/resource.h>

#include <limits>
#include <string>

#include "support/fatal.hpp"

namespace kvtraj::pca {

lapack_int blas_int(std::int64_t n) {
  if (n < 0 || n > std::numeric_limits<lapack_int>::max()) {
    die("pca: a matrix dimension of " + std::to_string(n) + " is beyond 32-bit BLAS");
  }
  return static_cast<lapack_int>(n);
}

void gemm(char ta, char tb, std::int64_t m, std::int64_t n, std::int64_t k, float alpha,
          const float* a, std::int64_t lda, const float* b, std::int64_t ldb, float beta, float* c,
          std::int64_t ldc) {
  if (m == 0 || n == 0) return;
  const int mm = blas_int(m), nn = blas_int(n), kk = blas_int(k);
  const int la = blas_int(lda), lb = blas_int(ldb), lc = blas_int(ldc);
  sgemm_(&ta, &tb, &mm, &nn, &kk, &alpha, a, &la, b, &lb, &beta, c, &lc, 1, 1);
}

void gemm(char ta, char tb, std::int64_t m, std::int64_t n, std::int64_t k, double alpha,
          const double* a, std::int64_t lda, const double* b, std::int64_t ldb, double beta,
          double* c, std::int64_t ldc) {
  if (m == 0 || n == 0) return;
  const int mm = blas_int(m), nn = blas_int(n), kk = blas_int(k);
  const int la = blas_int(lda), lb = blas_int(ldb), lc = blas_int(ldc);
  dgemm_(&ta, &tb, &mm, &nn, &kk, &alpha, a, &la, b, &lb, &beta, c, &lc, 1, 1);
}

void set_blas_threads(int threads) {
  if (openblas_set_num_threads != nullptr) openblas_set_num_threads(threads);
}

void require_address_space(std::uint64_t bytes, int threads) {
  // OpenBLAS maps one 128 MiB buffer per thread that calls it; a margin for the rest.
  constexpr std::uint64_t kBlasBuffer = std::uint64_t{128} << 20;
  const std::uint64_t total = bytes + kBlasBuffer * static_cast<std::uint64_t>(threads + 1);
  rlimit limit{};
  if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return;
  void* room = mmap(nullptr, total, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (room == MAP_FAILED) {
    die("out of memory: " + std::to_string(total >> 20) +
        " MiB of address space asked for the solver, the blocks and BLAS, beyond the limit of " +
        std::to_string(limit.rlim_cur >> 20) + " MiB (ulimit -v)");
  }
  munmap(room, total);
}

void check_info(const char* routine, lapack_int info) {
  if (info != 0)
    die(std::string("pca: ") + routine + " returns with info= " + std::to_string(info));
}

}  // namespace kvtraj::pca

// The two BLAS matrix products the analysis needs, with the Fortran calling convention
// (arguments by reference, column-major, hidden lengths of the character arguments).
#pragma once

#include <cstddef>

extern "C" {
void dgemm_(const char* transa, const char* transb, const int* m, const int* n, const int* k,
            const double* alpha, const double* a, const int* lda, const double* b, const int* ldb,
            const double* beta, double* c, const int* ldc, std::size_t, std::size_t);
void sgemm_(const char* transa, const char* transb, const int* m, const int* n, const int* k,
            const float* alpha, const float* a, const int* lda, const float* b, const int* ldb,
            const float* beta, float* c, const int* ldc, std::size_t, std::size_t);
}

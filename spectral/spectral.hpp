// Eigenvalues and eigenvectors of a real symmetric single-precision matrix through LAPACK's
// ssyevr: `evals` gives all eigenvalues, `evecs` the eigenvectors of the largest ones, both in
// descending order of eigenvalue. The matrix is read through a strided view (any strides) and
// never written: the solver works on a private column-major copy. LAPACK sizes are 32-bit, so the
// order of the matrix is limited to 46340 (N * N must fit). A solver failure prints
// "SSYEVR returns with info= " and the code, and ends the program with status 1.
//
// Threads: no state of its own; calls may run at once (LAPACK may use threads of its own).
#pragma once

#include <cstdint>

#pragma GCC visibility push(default)  // the installed interface, exported by shared builds

namespace kvtraj {

// Element (i, j), 0-based, is data[i * row_stride + j * col_stride]: row_stride steps down a
// column, col_stride across a row. A contiguous column-major matrix has row_stride 1 and
// col_stride equal to its row count.
struct ConstMatrixView {
  const float* data = nullptr;
  std::int64_t rows = 0;
  std::int64_t cols = 0;
  std::int64_t row_stride = 1;
  std::int64_t col_stride = 0;
  const float& operator()(std::int64_t i, std::int64_t j) const {
    return data[i * row_stride + j * col_stride];
  }
};

struct MatrixView {
  float* data = nullptr;
  std::int64_t rows = 0;
  std::int64_t cols = 0;
  std::int64_t row_stride = 1;
  std::int64_t col_stride = 0;
  float& operator()(std::int64_t i, std::int64_t j) const {
    return data[i * row_stride + j * col_stride];
  }
  operator ConstMatrixView() const { return {data, rows, cols, row_stride, col_stride}; }
};

// Element i, 0-based, is data[i * stride].
struct VectorView {
  float* data = nullptr;
  std::int64_t size = 0;
  std::int64_t stride = 1;
  float& operator()(std::int64_t i) const { return data[i * stride]; }
};

inline ConstMatrixView column_major(const float* data, std::int64_t rows, std::int64_t cols) {
  return {data, rows, cols, 1, rows};
}
inline MatrixView column_major(float* data, std::int64_t rows, std::int64_t cols) {
  return {data, rows, cols, 1, rows};
}

// w(0..N-1) = all eigenvalues of the N x N matrix `a` (N = a.rows), largest first. The solver
// reads the upper triangle. w.size must be at least N and a.cols at least N.
void evals(VectorView w, ConstMatrixView a);

// Column j of `z` (j = 0..nvec-1) = the eigenvector of the (j+1)-th largest eigenvalue of `a`;
// signs as the solver returns them. The solver reads the lower triangle. z needs at least N rows
// and nvec columns. nvec outside 1..N is reported as the solver would (info -9).
void evecs(MatrixView z, ConstMatrixView a, std::int32_t nvec);

}  // namespace kvtraj

#pragma GCC visibility pop

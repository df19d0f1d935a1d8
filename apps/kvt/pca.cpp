#include "apps/kvt/pca.hpp"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <string>

#include "apps/kvt/blas.hpp"
#include "spectral/spectral.hpp"

namespace kvtraj::app {
namespace {

// Panel widths of the double-precision accumulation: a panel of matrix columns is accumulated
// over all samples, a block of samples at a time, so that only one panel is held in double.
constexpr std::int64_t kPanel = 384;
constexpr std::int64_t kBlock = 512;

// Eigenvalues below this fraction of the largest are rounding noise of a single-precision
// matrix (directions the snapshots do not span), not variance.
constexpr double kRankTolerance = 4.0 * FLT_EPSILON;

int blas_size(std::int64_t n) {
  return static_cast<int>(n);
}

// Rows `from`..k-1 of samples s0..s0+b-1 in double, column per sample.
void load_block(const float* data, std::int64_t k, std::int64_t from, std::int64_t s0,
                std::int64_t b, std::int64_t sample_stride, std::int64_t item_stride,
                std::vector<double>& block) {
  const std::int64_t m = k - from;
  for (std::int64_t t = 0; t < b; ++t) {
    const float* sample = data + (s0 + t) * sample_stride;
    double* column = block.data() + t * m;
    for (std::int64_t i = 0; i < m; ++i) column[i] = sample[(from + i) * item_stride];
  }
}

}  // namespace

std::vector<float> second_moments(std::span<const float> xc, std::int64_t n, std::int64_t frames,
                                  bool gram, Progress& progress) {
  // Element i of sample s sits at s * sample_stride + i * item_stride.
  const std::int64_t k = gram ? frames : n;
  const std::int64_t samples = gram ? n : frames;
  const std::int64_t sample_stride = gram ? 1 : n;
  const std::int64_t item_stride = gram ? n : 1;
  std::vector<float> result(static_cast<std::size_t>(k * k));
  std::vector<double> panel, block;
  const char no = 'N', yes = 'T';
  const double one = 1.0;
  progress.begin(gram ? "Gram matrix" : "covariance", k);
  for (std::int64_t j0 = 0; j0 < k; j0 += kPanel) {
    const std::int64_t p = std::min(kPanel, k - j0), m = k - j0;
    panel.assign(static_cast<std::size_t>(m * p), 0.0);
    block.resize(static_cast<std::size_t>(m * std::min(kBlock, samples)));
    for (std::int64_t s0 = 0; s0 < samples; s0 += kBlock) {
      const std::int64_t b = std::min(kBlock, samples - s0);
      load_block(xc.data(), k, j0, s0, b, sample_stride, item_stride, block);
      const int mm = blas_size(m), pp = blas_size(p), bb = blas_size(b);
      dgemm_(&no, &yes, &mm, &pp, &bb, &one, block.data(), &mm, block.data(), &mm, &one,
             panel.data(), &mm, 1, 1);
    }
    const double scale = 1.0 / static_cast<double>(std::max<std::int64_t>(frames, 1));
    for (std::int64_t c = 0; c < p; ++c) {
      for (std::int64_t r = c; r < m; ++r) {
        const auto value = static_cast<float>(panel[r + c * m] * scale);
        result[(j0 + r) + (j0 + c) * k] = value;
        result[(j0 + c) + (j0 + r) * k] = value;
      }
    }
    progress.update(j0 + p);
  }
  progress.end();
  return result;
}

std::int32_t numeric_rank(std::span<const float> eigenvalues) {
  if (eigenvalues.empty() || !(eigenvalues[0] > 0.0f)) return 0;
  const double floor = static_cast<double>(eigenvalues[0]) * kRankTolerance;
  std::int32_t rank = 0;
  while (rank < static_cast<std::int32_t>(eigenvalues.size()) && eigenvalues[rank] > floor) ++rank;
  return rank;
}

double expected_rmsd(std::span<const float> eigenvalues, double total, std::int32_t kept,
                     std::int32_t natoms) {
  double captured = 0.0;
  for (std::int32_t k = 0; k < kept; ++k) captured += eigenvalues[k];
  return std::sqrt(std::max(0.0, total - captured) / std::max(natoms, 1));
}

std::int32_t choose_vectors(std::span<const float> eigenvalues, double total, std::int32_t rank,
                            std::int32_t natoms, const VectorChoice& choice) {
  if (choice.kind == VectorChoice::count) {
    if (choice.value > rank) {
      fail("--vectors " + std::to_string(static_cast<long long>(choice.value)) +
           " is more than the " + std::to_string(rank) + " vectors these snapshots hold");
    }
    return static_cast<std::int32_t>(choice.value);
  }
  double captured = 0.0;
  for (std::int32_t k = 0; k < rank; ++k) {
    const bool enough = choice.kind == VectorChoice::quality
                            ? captured >= choice.value / 100.0 * total
                            : expected_rmsd(eigenvalues, total, k, natoms) <= choice.value;
    if (enough) return k;
    captured += eigenvalues[k];
  }
  return rank;
}

double trace(std::span<const float> matrix, std::int64_t order) {
  double sum = 0.0;
  for (std::int64_t i = 0; i < order; ++i) sum += matrix[i + i * order];
  return sum;
}

std::vector<float> covariance_vectors(std::span<const float> matrix, std::int64_t order,
                                      std::int32_t kept, bool gram, std::span<const float> xc,
                                      std::int64_t n) {
  std::vector<float> u(static_cast<std::size_t>(order * kept));
  if (kept == 0) return u;
  evecs(MatrixView{u.data(), order, kept, 1, order},
        ConstMatrixView{matrix.data(), order, order, 1, order}, kept);
  if (!gram) return u;
  std::vector<float> v(static_cast<std::size_t>(n * kept));
  const char no = 'N';
  const float one = 1.0f, zero = 0.0f;
  const int nn = blas_size(n), kk = blas_size(kept), ff = blas_size(order);
  sgemm_(&no, &no, &nn, &kk, &ff, &one, xc.data(), &nn, u.data(), &ff, &zero, v.data(), &nn, 1, 1);
  for (std::int32_t k = 0; k < kept; ++k) {
    float* column = v.data() + static_cast<std::int64_t>(k) * n;
    double norm = 0.0;
    for (std::int64_t i = 0; i < n; ++i) norm += static_cast<double>(column[i]) * column[i];
    const auto inverse = static_cast<float>(norm > 0.0 ? 1.0 / std::sqrt(norm) : 0.0);
    for (std::int64_t i = 0; i < n; ++i) column[i] *= inverse;
  }
  return v;
}

std::vector<float> projections(std::span<const float> xc, std::int64_t n, std::int64_t frames,
                               std::span<const float> vectors, std::int32_t kept) {
  std::vector<float> proj(static_cast<std::size_t>(frames * kept));
  if (kept == 0 || frames == 0) return proj;
  const char no = 'N', yes = 'T';
  const float one = 1.0f, zero = 0.0f;
  const int nn = blas_size(n), kk = blas_size(kept), ff = blas_size(frames);
  sgemm_(&yes, &no, &ff, &kk, &nn, &one, xc.data(), &nn, vectors.data(), &nn, &zero, proj.data(),
         &ff, 1, 1);
  return proj;
}

void subtract_average(std::span<float> traj, std::span<const float> average) {
  const std::size_t n = average.size();
  for (std::size_t offset = 0; offset + n <= traj.size(); offset += n) {
    for (std::size_t i = 0; i < n; ++i) traj[offset + i] -= average[i];
  }
}

}  // namespace kvtraj::app

// The exact solver: the covariance (3N x 3N) or, with fewer frames than coordinates, the Gram
// matrix (F x F) of the centred frames, accumulated in double into panels of the lower triangle
// and converted in place to the single-precision matrix that is factorised. The double triangle
// takes barely more bytes than the float matrix (the excess is given back before factorising),
// and the blocks of frames are small beside it, so the matrix is nearly all the memory held.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

#include "pca/blas.hpp"
#include "pca/eigen.hpp"
#include "pca/parallel.hpp"
#include "pca/solvers.hpp"
#include "support/fatal.hpp"
#include "support/sizes.hpp"

namespace kvtraj::pca {
namespace {

// Columns per panel of the stored lower triangle.
constexpr std::int64_t kPanel = 32;

// Bytes of the lower triangle in panels: the packed triangle and the upper halves of the
// panels' diagonal blocks come to at most order (order + kPanel) / 2 doubles.
std::optional<std::uint64_t> triangle_bytes(std::int64_t order) {
  const auto count = checked_mul(order, order + kPanel);
  return count && *count <= UINT64_MAX / 4 ? std::optional(*count * 4) : std::nullopt;
}

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};

// The lower triangle of a symmetric matrix in double, as panels of kPanel columns: the panel
// starting at column j0 holds rows j0..order-1 of its columns, column-major, so that a matrix
// product accumulates straight into it. Then, in the same storage, the matrix in single
// precision with leading dimension `order`.
class PanelMatrix {
 public:
  explicit PanelMatrix(std::int64_t order) : order_(order) {
    if (!triangle_bytes(order))
      die("pca: a matrix of order " + std::to_string(order) + " is too large");
    const std::int64_t last = order > 0 ? (order - 1) / kPanel * kPanel : 0;
    size_ = static_cast<std::size_t>(offset(last) + (order - last) * (order - last));
    storage_.reset(std::calloc(std::max<std::size_t>(size_, 1), sizeof(double)));
    if (!storage_) die("Memory allocation error");
  }
  std::span<double> all() { return {data(), size_}; }
  // The panel starting at column j0 (a multiple of kPanel), leading dimension order - j0.
  double* panel(std::int64_t j0) { return data() + offset(j0); }
  // Element (i, j), i >= j.
  double& at(std::int64_t i, std::int64_t j) { return data()[index(i, j)]; }
  double trace() {
    double sum = 0.0;
    for (std::int64_t i = 0; i < order_; ++i) sum += at(i, i);
    return sum;
  }
  // Scales and converts to float in place. Element (i, j) moves from byte 8 * index(i, j) to
  // byte 4 * (i + j * order), never beyond where it was (index(i, j) is at least the packed
  // index, whose double is i + j * order or more), so ascending order reads every element
  // before anything overwrites it.
  float* to_float(double scale) {
    auto* bytes = static_cast<unsigned char*>(storage_.get());
    for (std::int64_t j = 0; j < order_; ++j) {
      for (std::int64_t i = j; i < order_; ++i) {
        double value;
        std::memcpy(&value, bytes + 8 * index(i, j), 8);
        const auto single = static_cast<float>(value * scale);
        std::memcpy(bytes + 4 * (i + j * order_), &single, 4);
      }
    }
    release_beyond(static_cast<std::size_t>(order_ * order_) * sizeof(float));
    return static_cast<float*>(storage_.get());
  }

 private:
  double* data() { return static_cast<double*>(storage_.get()); }
  // Gives the whole pages beyond the first `bytes` back to the system: the float matrix needs
  // less room than the panels did. They read as zeros if touched again.
  void release_beyond(std::size_t bytes) {
    const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto start = reinterpret_cast<std::uintptr_t>(storage_.get());
    const std::uintptr_t from = (start + bytes + page - 1) / page * page;
    const std::uintptr_t to = (start + size_ * sizeof(double)) / page * page;
    if (to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_DONTNEED);
  }
  // Doubles before the panel starting at column j0: panel b holds kPanel * (order - b * kPanel).
  std::int64_t offset(std::int64_t j0) const {
    const std::int64_t b = j0 / kPanel;
    return kPanel * (b * order_ - kPanel * b * (b - 1) / 2);
  }
  std::int64_t index(std::int64_t i, std::int64_t j) const {
    const std::int64_t j0 = j / kPanel * kPanel;
    return offset(j0) + (j - j0) * (order_ - j0) + (i - j0);
  }

  std::int64_t order_ = 0;
  std::size_t size_ = 0;
  std::unique_ptr<void, FreeDeleter> storage_;
};

void to_double(std::span<const float> in, std::vector<double>& out) {
  out.resize(in.size());
  std::copy(in.begin(), in.end(), out.begin());
}

// Covariance: every block adds its x xᵀ into the panels, which the threads share out (they
// update disjoint columns).
void accumulate_covariance(FrameStream& stream, const Centre& centre, PanelMatrix& m) {
  const std::int64_t n = stream.coordinates();
  std::vector<double> x;
  stream.pass("covariance", [&](std::int64_t, std::int64_t count, std::span<float> block) {
    centre.apply(*centre.cores, block, count);
    to_double(block.first(static_cast<std::size_t>(count * n)), x);
    share_range(*centre.cores, (n + kPanel - 1) / kPanel, [&](std::int64_t b0, std::int64_t b1) {
      for (std::int64_t j0 = b0 * kPanel; j0 < std::min(n, b1 * kPanel); j0 += kPanel) {
        const std::int64_t p = std::min(kPanel, n - j0), rows = n - j0;
        gemm('N', 'T', rows, p, count, 1.0, x.data() + j0, n, x.data() + j0, n, 1.0, m.panel(j0),
             rows);
      }
    });
  });
}

// Gram: frames [p0, p0 + width) are held in double as a panel while every later frame streams
// past; a pass fills the panel's columns of the lower triangle.
void accumulate_gram(FrameStream& stream, const Centre& centre, PanelMatrix& m,
                     std::int64_t width) {
  const std::int64_t n = stream.coordinates(), frames = stream.frames();
  std::vector<double> panel, x, t;
  for (std::int64_t p0 = 0; p0 < frames; p0 += width) {
    const std::int64_t w = std::min(width, frames - p0);
    panel.assign(static_cast<std::size_t>(n * w), 0.0);
    stream.pass(
        "Gram matrix", [&](std::int64_t offset, std::int64_t count, std::span<float> block) {
          if (offset + count <= p0) return;
          centre.apply(*centre.cores, block, count);
          to_double(block, x);
          // Panel frames inside this block join the panel before they are used.
          for (std::int64_t f = std::max(offset, p0); f < std::min(offset + count, p0 + w); ++f) {
            std::copy_n(x.begin() + (f - offset) * n, n, panel.begin() + (f - p0) * n);
          }
          const std::int64_t cols = std::min(w, offset + count - p0);
          t.resize(static_cast<std::size_t>(count * cols));
          gemm('T', 'N', count, cols, n, 1.0, x.data(), n, panel.data(), n, 0.0, t.data(), count);
          for (std::int64_t c = 0; c < cols; ++c) {
            for (std::int64_t r = std::max<std::int64_t>(0, p0 + c - offset); r < count; ++r) {
              m.at(offset + r, p0 + c) += t[r + c * count];
            }
          }
        });
  }
}

// Covariance eigenvectors from the Gram matrix's: v = x u / |x u|, summed over frame blocks;
// the projections follow without another pass, xᵀ v = |x u| u.
void gram_vectors(FrameStream& stream, const Centre& centre, Reducer& reducer, Solution& s,
                  std::span<const float> u) {
  const std::int64_t n = stream.coordinates(), frames = stream.frames();
  const std::int32_t k = s.kept;
  s.vectors.assign(static_cast<std::size_t>(n * k), 0.0f);
  stream.pass("eigenvectors", [&](std::int64_t offset, std::int64_t count, std::span<float> block) {
    centre.apply(*centre.cores, block, count);
    gemm('N', 'N', n, k, count, 1.0f, block.data(), n, u.data() + offset, frames, 1.0f,
         s.vectors.data(), n);
  });
  reducer.sum(std::span<float>(s.vectors));
  s.proj.assign(u.begin(), u.end());
  for (std::int32_t c = 0; c < k; ++c) {
    float* v = s.vectors.data() + static_cast<std::int64_t>(c) * n;
    double norm = 0.0;
    for (std::int64_t i = 0; i < n; ++i) norm += static_cast<double>(v[i]) * v[i];
    norm = std::sqrt(norm);
    const auto inverse = static_cast<float>(norm > 0.0 ? 1.0 / norm : 0.0);
    for (std::int64_t i = 0; i < n; ++i) v[i] *= inverse;
    float* p = s.proj.data() + static_cast<std::int64_t>(c) * frames;
    for (std::int64_t f = 0; f < frames; ++f) p[f] = static_cast<float>(p[f] * norm);
  }
}

}  // namespace

std::int64_t exact_block_frames(std::int64_t n) {
  // The blocks, held in float twice and in double once, take 1/32 of the float matrix: the
  // exact route's memory is its matrix. Yet each block's product of at least 16 frames keeps
  // the panels' memory traffic below the arithmetic.
  return std::clamp<std::int64_t>(n / 128, 16, 512);
}

std::uint64_t exact_bytes(std::int64_t n, std::int64_t frames) {
  const std::int64_t order = std::min(n, frames);
  const auto matrix = triangle_bytes(order);
  // The blocks of frames (float twice, double once), and the Gram route's panel of at least
  // one frame.
  const auto block = checked_mul(n, 16 * exact_block_frames(n) + (frames < n ? 8 : 0));
  if (!matrix || !block) return UINT64_MAX;
  return checked_add(*matrix, *block).value_or(UINT64_MAX);
}

Solution solve_exact(FrameStream& stream, const Centre& centre, Reducer& reducer,
                     std::int64_t budget, const ChooseFn& choose) {
  const std::int64_t n = stream.coordinates(), frames = stream.frames();
  // The Gram matrix pairs every frame with every other: only for frames all held here.
  const bool gram = frames < n && !centre.shared;
  const std::int64_t order = gram ? frames : n;
  Solution s;
  Eigenpairs e;
  {
    PanelMatrix m(order);
    if (gram) {
      // Whatever the budget leaves beside the matrix holds the panel of frames.
      // (The budget was checked to hold the matrix.)
      const std::int64_t spare = budget - static_cast<std::int64_t>(*triangle_bytes(order));
      accumulate_gram(stream, centre, m, std::clamp<std::int64_t>(spare / (8 * n), 1, frames));
    } else {
      accumulate_covariance(stream, centre, m);
    }
    reducer.sum(m.all());
    const double scale = 1.0 / static_cast<double>(std::max<std::int64_t>(centre.frames, 1));
    s.total = m.trace() * scale;
    stream.step("eigenvalues and vectors", false);
    stream.release_buffers();
    set_blas_threads(centre.cores->count());
    e = factorise(m.to_float(scale), order,
                  [&](std::span<const float> values) { return choose(values, s.total); });
    set_blas_threads(1);
    stream.step("eigenvalues and vectors", true);
  }
  s.eigenvalues = std::move(e.values);
  s.kept = e.kept;
  if (s.kept == 0) return s;
  if (gram) {
    gram_vectors(stream, centre, reducer, s, e.vectors);
  } else {
    s.vectors = std::move(e.vectors);
    s.proj = project(stream, centre, s.vectors, s.kept);
  }
  return s;
}

std::vector<float> project(FrameStream& stream, const Centre& centre,
                           std::span<const float> vectors, std::int32_t kept) {
  const std::int64_t n = stream.coordinates(), frames = stream.frames();
  std::vector<float> proj(static_cast<std::size_t>(frames * kept));
  // Each block writes its own rows of the projections: the parts need no sums.
  stream.pass_in_parts("projections", [&](const FrameStream::Part& part, std::int64_t offset,
                                          std::int64_t count, std::span<float> block) {
    centre.apply(part.cores, block, count);
    share_range(part.cores, count, [&](std::int64_t f0, std::int64_t f1) {
      gemm('T', 'N', f1 - f0, kept, n, 1.0f, block.data() + f0 * n, n, vectors.data(), n, 0.0f,
           proj.data() + offset + f0, frames);
    });
  });
  return proj;
}

}  // namespace kvtraj::pca

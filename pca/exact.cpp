// The exact solver: the covariance (3N x 3N) or, with fewer frames than coordinates, the Gram
// matrix (F x F) of the centred frames, accumulated and factorised in double precision. The
// matrix lies column-major in a mapping of its full square, of which only the upper triangle is
// ever written, so that LAPACK factorises it where it lies: the pages below the triangle are
// never touched and take no memory. Columns start on page boundaries, so that a column's pages
// are full but its last: the matrix holds half its square of doubles and half a page a column.
// The blocks of frames are small beside it: the matrix is nearly all the memory held.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <vector>

#include "pca/blas.hpp"
#include "pca/eigen.hpp"
#include "pca/parallel.hpp"
#include "pca/solvers.hpp"
#include "support/fatal.hpp"
#include "support/sizes.hpp"

namespace kvtraj::pca {
namespace {

// Columns per panel of the covariance pass.
constexpr std::int64_t kPanel = 32;
// Doubles of the triangle summed across processes at a time.
constexpr std::int64_t kReducedDoubles = std::int64_t{1} << 20;
// Orders beyond this are refused (the engine's own limit, LAPACK's, is far lower).
constexpr std::int64_t kLargestOrder = std::int64_t{1} << 20;

std::int64_t page_doubles() {
  return std::max<std::int64_t>(sysconf(_SC_PAGESIZE), 4096) / 8;
}

// The leading dimension: a whole number of pages once a column fills one, unless the padded
// square would pass the 2^31 elements that LAPACK's 32-bit indices address.
std::int64_t leading_dimension(std::int64_t order) {
  const std::int64_t page = page_doubles(), padded = (order + page - 1) / page * page;
  if (order < page || order > kLargestOrder ||
      padded * order > std::numeric_limits<std::int32_t>::max()) {
    return std::max<std::int64_t>(order, 1);
  }
  return padded;
}

// Resident bytes of the upper triangle: the pages column j touches from row 0 down to the end
// of its panel's diagonal block (the covariance products write those blocks whole).
std::optional<std::uint64_t> triangle_bytes(std::int64_t order) {
  if (order < 0 || order > kLargestOrder) return std::nullopt;
  const std::int64_t page = page_doubles(), lda = leading_dimension(order);
  std::int64_t pages = 0, next = 0;  // the first page not yet counted
  for (std::int64_t j = 0; j < order; ++j) {
    const std::int64_t rows = std::min(order, (j / kPanel + 1) * kPanel);
    const std::int64_t first = j * lda / page, end = (j * lda + rows + page - 1) / page;
    pages += end - std::max(first, next);
    next = end;
  }
  return static_cast<std::uint64_t>(pages * page * 8);
}

// The doubles of the buffer through which the triangle is summed across processes.
std::int64_t reduced_doubles(std::int64_t order) {
  return order > kReducedDoubles ? kReducedDoubles
                                 : std::min(kReducedDoubles, order * (order + 1) / 2);
}

// A symmetric matrix in double, column-major with leading dimension lda(), of which only the
// upper triangle is written: element (i, j), i <= j, is at i + j * lda(). The mapping starts as
// zero pages, which take memory only once written.
class UpperMatrix {
 public:
  explicit UpperMatrix(std::int64_t order) : order_(order), lda_(leading_dimension(order)) {
    if (!triangle_bytes(order))
      die("pca: a matrix of order " + std::to_string(order) + " is too large");
    bytes_ = static_cast<std::size_t>(lda_ * std::max<std::int64_t>(order, 1)) * sizeof(double);
    void* p = mmap(nullptr, bytes_, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (p == MAP_FAILED) die("Memory allocation error");
    data_ = static_cast<double*>(p);
  }
  ~UpperMatrix() { munmap(data_, bytes_); }
  UpperMatrix(const UpperMatrix&) = delete;
  UpperMatrix& operator=(const UpperMatrix&) = delete;

  double* data() { return data_; }
  std::int64_t lda() const { return lda_; }
  // Column j, its rows 0 .. j the triangle's.
  double* column(std::int64_t j) { return data_ + j * lda_; }
  double trace() {
    double sum = 0.0;
    for (std::int64_t j = 0; j < order_; ++j) sum += column(j)[j];
    return sum;
  }
  void scale(double factor) {
    for (std::int64_t j = 0; j < order_; ++j) {
      std::for_each(column(j), column(j) + j + 1, [&](double& v) { v *= factor; });
    }
  }
  // Sums the triangle across processes, a run of whole columns at a time copied into a buffer
  // of reduced_doubles(order).
  void reduce(Reducer& reducer) {
    std::vector<double> buffer(static_cast<std::size_t>(reduced_doubles(order_)));
    const auto size = static_cast<std::int64_t>(buffer.size());
    for (std::int64_t j0 = 0, j1 = 0; j0 < order_; j0 = j1) {
      std::int64_t used = 0;
      for (; j1 < order_ && used + j1 + 1 <= size; used += j1 + 1, ++j1) {
        std::copy_n(column(j1), j1 + 1, buffer.data() + used);
      }
      reducer.sum(std::span<double>(buffer.data(), static_cast<std::size_t>(used)));
      for (std::int64_t j = j0, from = 0; j < j1; from += j + 1, ++j) {
        std::copy_n(buffer.data() + from, j + 1, column(j));
      }
    }
  }

 private:
  std::int64_t order_ = 0;
  std::int64_t lda_ = 1;
  std::size_t bytes_ = 0;
  double* data_ = nullptr;
};

void to_double(std::span<const float> in, std::vector<double>& out) {
  out.resize(in.size());
  std::copy(in.begin(), in.end(), out.begin());
}

// Covariance: every block adds its x xᵀ into the panels (rows 0 .. j0 + 31 of columns j0 ..
// j0 + 31), which the threads share out (they update disjoint columns).
void accumulate_covariance(FrameStream& stream, const Centre& centre, UpperMatrix& m) {
  const std::int64_t n = stream.coordinates();
  std::vector<double> x;
  stream.pass("covariance", [&](std::int64_t, std::int64_t count, std::span<float> block) {
    centre.apply(*centre.cores, block, count);
    to_double(block.first(static_cast<std::size_t>(count * n)), x);
    share_range(*centre.cores, (n + kPanel - 1) / kPanel, [&](std::int64_t b0, std::int64_t b1) {
      for (std::int64_t j0 = b0 * kPanel; j0 < std::min(n, b1 * kPanel); j0 += kPanel) {
        const std::int64_t p = std::min(kPanel, n - j0);
        gemm('N', 'T', j0 + p, p, count, 1.0, x.data(), n, x.data() + j0, n, 1.0, m.column(j0),
             m.lda());
      }
    });
  });
}

// Gram: frames [p0, p0 + width) are held in double as a panel while every later frame streams
// past; a pass fills the panel's rows of the upper triangle.
void accumulate_gram(FrameStream& stream, const Centre& centre, UpperMatrix& m,
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
          // t (rows the panel's frames, columns this block's): element (p0 + r, offset + c).
          // Shared out by columns, so that a long product is not one uninterrupted call.
          const std::int64_t rows = std::min(w, offset + count - p0);
          t.resize(static_cast<std::size_t>(rows * count));
          share_range(*centre.cores, count, [&](std::int64_t c0, std::int64_t c1) {
            gemm('T', 'N', rows, c1 - c0, n, 1.0, panel.data(), n, x.data() + c0 * n, n, 0.0,
                 t.data() + c0 * rows, rows);
          });
          for (std::int64_t c = std::max<std::int64_t>(0, p0 - offset); c < count; ++c) {
            double* column = m.column(offset + c) + p0;
            const std::int64_t upto = std::min(rows, offset + c - p0 + 1);
            for (std::int64_t r = 0; r < upto; ++r) column[r] += t[r + c * rows];
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
  // The blocks, held in float twice and in double once, take 1/32 of the matrix: the exact
  // route's memory is its matrix. Yet each block's product of at least 16 frames keeps the
  // panels' memory traffic below the arithmetic.
  return std::clamp<std::int64_t>(n / 128, 16, 512);
}

std::uint64_t exact_bytes(std::int64_t n, std::int64_t frames, bool spread) {
  const bool gram = frames < n && !spread;
  const std::int64_t order = gram ? frames : n;
  const auto matrix = triangle_bytes(order);
  // The blocks of frames (float twice, double once) while the matrix fills, the Gram route's
  // panel of at least one frame, or the buffer that sums spread frames' matrices.
  const auto block = checked_mul(n, 16 * exact_block_frames(n) + (gram ? 8 : 0));
  const std::int64_t reduced = spread ? 8 * reduced_doubles(order) : 0;
  if (!matrix || !block) return UINT64_MAX;
  return checked_add(*matrix, std::max<std::uint64_t>(*block, reduced)).value_or(UINT64_MAX);
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
    UpperMatrix m(order);
    if (gram) {
      // Whatever the budget leaves beside the matrix holds the panel of frames.
      // (The budget was checked to hold the matrix.)
      const std::int64_t spare = budget - static_cast<std::int64_t>(*triangle_bytes(order));
      accumulate_gram(stream, centre, m, std::clamp<std::int64_t>(spare / (8 * n), 1, frames));
    } else {
      accumulate_covariance(stream, centre, m);
    }
    stream.release_buffers();
    if (centre.shared) m.reduce(reducer);
    const double scale = 1.0 / static_cast<double>(std::max<std::int64_t>(centre.frames, 1));
    m.scale(scale);
    s.total = m.trace();
    stream.step("eigenvalues and vectors", false);
    set_blas_threads(centre.cores->count());
    e = factorise(m.data(), order, m.lda(),
                  [&](std::span<const float> values) { return choose(values, s.total); });
    set_blas_threads(1);
    stream.step("eigenvalues and vectors", true);
  }
  s.eigenvalues = std::move(e.values);
  s.kept = e.kept;
  if (s.kept == 0) return s;
  // Unit vectors: single precision holds them to its rounding.
  std::vector<float> vectors(e.vectors.begin(), e.vectors.end());
  std::vector<double>().swap(e.vectors);
  if (gram) {
    gram_vectors(stream, centre, reducer, s, vectors);
  } else {
    s.vectors = std::move(vectors);
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

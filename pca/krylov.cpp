// The randomized solver: block Lanczos with full reorthogonalisation on C = x xᵀ / F, x the
// centred frames, never forming C. Each pass over the frames multiplies the newest block of the
// Krylov basis by C (x (xᵀ q), a sum over frame blocks); Rayleigh-Ritz on the basis gives the
// Ritz pairs, and the solver stops when the residual |C v - θ v| of every pair it keeps is small
// next to θ. Krylov blocks converge far faster than plain subspace iteration on the slowly
// decaying spectra of MD (Musco and Musco 2015).
#include <algorithm>
#include <cmath>
#include <random>
#include <string>

#include "pca/blas.hpp"
#include "pca/eigen.hpp"
#include "pca/parallel.hpp"
#include "pca/solvers.hpp"
#include "support/fatal.hpp"
#include "support/messages.hpp"

namespace kvtraj::pca {
namespace {

// Extra columns beyond the vectors asked for, and the block width when the count is not known.
constexpr std::int32_t kOversampling = 10;
constexpr std::int32_t kOpenBlock = 40;
// The kept Ritz pairs are converged when every |C v - θ v| <= kResidual θ1 (θ1 the largest).
constexpr double kResidual = 1.0e-3;
constexpr int kMaxPasses = 60;

// Makes the columns of y (n x b) orthonormal and orthogonal to those of q (n x m): two rounds of
// projection and Householder QR, so that orthogonality holds to rounding even when y lies
// almost inside q's span.
void orthonormalise(Cores& cores, std::span<const float> q, std::int64_t m, std::span<float> y,
                    std::int64_t n, std::int64_t b) {
  std::vector<float> c(static_cast<std::size_t>(std::max<std::int64_t>(m * b, 1)));
  std::vector<float> tau(static_cast<std::size_t>(b)), work(1);
  const lapack_int nn = blas_int(n), bb = blas_int(b);
  for (int round = 0; round < 2; ++round) {
    for (int twice = 0; twice < 2 && m > 0; ++twice) {
      gemm_inner_sum(cores, m, b, n, q.data(), n, y.data(), n, c.data());
      gemm_by_rows(cores, n, b, m, -1.0f, q.data(), n, c.data(), m, 1.0f, y.data(), n);
    }
    lapack_int info = 0, lwork = -1;
    LAPACK_sgeqrf(&nn, &bb, y.data(), &nn, tau.data(), work.data(), &lwork, &info);
    check_info("sgeqrf", info);
    lwork = std::max<lapack_int>(static_cast<lapack_int>(work[0]), bb);
    work.resize(static_cast<std::size_t>(lwork));
    LAPACK_sgeqrf(&nn, &bb, y.data(), &nn, tau.data(), work.data(), &lwork, &info);
    check_info("sgeqrf", info);
    LAPACK_sorgqr(&nn, &bb, &bb, y.data(), &nn, tau.data(), work.data(), &lwork, &info);
    check_info("sorgqr", info);
  }
}

struct Basis {
  std::int64_t n = 0;
  std::int64_t frames = 0;
  std::int64_t m = 0;     // columns so far
  std::int64_t mmax = 0;  // columns the budget allows
  std::vector<float> q;   // n x m, orthonormal
  std::vector<float> w;   // n x m, C q
  std::vector<float> z;   // frames x m, xᵀ q: the projections come from it without a pass
  std::vector<double> h;  // m x m, qᵀ C q
};

double sum_of_squares(std::span<const float> x) {
  double sum = 0.0;
  for (const float v : x) sum += static_cast<double>(v) * v;
  return sum;
}

// The first pass took the frames y about a provisional origin; about their true average, y - d:
// C q = (1/F) sum y yᵀ q - d dᵀ q, the projections are yᵀ q - dᵀ q and the total variance is
// sum |y|² / F - |d|².
void correct_first_pass(Centre& centre, Reducer& reducer, std::vector<double> sums, Basis& basis,
                        std::int64_t b, double& total) {
  const std::vector<double> d = centre.settle(std::move(sums), reducer);
  const std::int64_t n = basis.n, frames = basis.frames;
  double d2 = 0.0;
  for (const double v : d) d2 += v * v;
  total -= d2;
  for (std::int64_t c = 0; c < b; ++c) {
    const float* q = basis.q.data() + (basis.m + c) * n;
    float* w = basis.w.data() + (basis.m + c) * n;
    float* z = basis.z.data() + (basis.m + c) * frames;
    double dq = 0.0;
    for (std::int64_t i = 0; i < n; ++i) dq += d[static_cast<std::size_t>(i)] * q[i];
    for (std::int64_t i = 0; i < n; ++i)
      w[i] -= static_cast<float>(d[static_cast<std::size_t>(i)] * dq);
    for (std::int64_t f = 0; f < frames; ++f) z[f] -= static_cast<float>(dq);
  }
}

// One pass: w_new = C q_new (and, on the first pass, the total variance; and, when the centre
// is not settled, the average).
void multiply(FrameStream& stream, Centre& centre, Reducer& reducer, Basis& basis, std::int64_t b,
              int pass, double* total) {
  const std::int64_t n = basis.n, frames = stream.frames();
  const float* q = basis.q.data() + basis.m * n;
  basis.w.resize(static_cast<std::size_t>(n * (basis.m + b)));
  basis.z.resize(static_cast<std::size_t>(frames * (basis.m + b)));
  float* w = basis.w.data() + basis.m * n;
  float* z = basis.z.data() + basis.m * frames;
  std::fill(w, w + n * b, 0.0f);
  // Squares are summed frame by frame, then in frame order: the total does not depend on
  // which thread took which frames.
  std::vector<double> squares(total != nullptr ? static_cast<std::size_t>(frames) : 0);
  const bool settling = !centre.settled;
  const int parts = stream.max_parts();
  PartSums<float> products(parts, static_cast<std::size_t>(n * b));
  PartSums<double> sums(settling ? parts : 0, static_cast<std::size_t>(n) + 1);
  std::vector<std::vector<float>> xq_parts(static_cast<std::size_t>(parts));  // each part's xᵀ q
  const auto block_product = [&](const FrameStream::Part& part, std::int64_t offset,
                                 std::int64_t count, std::span<float> block) {
    Cores& on = part.cores;
    if (settling) {
      centre.apply_and_sum(on, block, count, sums[part.index]);
    } else {
      centre.apply(on, block, count);
    }
    const float* x = block.data();
    if (total != nullptr) {
      share_range(on, count, [&](std::int64_t f0, std::int64_t f1) {
        for (std::int64_t f = f0; f < f1; ++f) {
          squares[offset + f] = sum_of_squares(std::span(x + f * n, n));
        }
      });
    }
    // xᵀ q is this block's rows of z; then x (xᵀ q) joins the part's C q.
    std::vector<float>& xq = xq_parts[static_cast<std::size_t>(part.index)];
    xq.resize(static_cast<std::size_t>(count * b));
    gemm_inner_sum(on, count, b, n, x, n, q, n, xq.data());
    for (std::int64_t c = 0; c < b; ++c) {
      std::copy_n(xq.begin() + c * count, count, z + offset + c * frames);
    }
    gemm_by_rows(on, n, b, count, 1.0f, x, n, xq.data(), count, 1.0f, products[part.index].data(),
                 n);
  };
  stream.pass_in_parts("Krylov pass " + std::to_string(pass), block_product);
  products.add_to(std::span<float>(w, static_cast<std::size_t>(n * b)));
  reducer.sum(std::span<float>(w, static_cast<std::size_t>(n * b)));
  const double all = static_cast<double>(std::max<std::int64_t>(centre.frames, 1));
  const auto scale = static_cast<float>(1.0 / all);
  for (std::int64_t i = 0; i < n * b; ++i) w[i] *= scale;
  if (total != nullptr) {
    double sum = 0.0;
    for (const double frame : squares) sum += frame;
    reducer.sum(std::span<double>(&sum, 1));
    *total = sum / all;
  }
  if (settling) {
    std::vector<double> sum(static_cast<std::size_t>(n) + 1, 0.0);
    sums.add_to(sum);
    correct_first_pass(centre, reducer, std::move(sum), basis, b, *total);
  }
}

// Adds the new block's column of qᵀ C q (symmetric: its row too) and grows the basis.
void extend_projection(Cores& cores, Basis& basis, std::int64_t b) {
  const std::int64_t n = basis.n, old = basis.m, m = old + b;
  std::vector<float> col(static_cast<std::size_t>(m * b));
  gemm_inner_sum(cores, m, b, n, basis.q.data(), n, basis.w.data() + old * n, n, col.data());
  std::vector<double> h(static_cast<std::size_t>(m * m), 0.0);
  for (std::int64_t j = 0; j < old; ++j) {
    std::copy_n(basis.h.begin() + j * old, old, h.begin() + j * m);
  }
  for (std::int64_t c = 0; c < b; ++c) {
    for (std::int64_t r = 0; r < m; ++r) {
      const double v = col[r + c * m];
      const std::int64_t j = old + c;
      // The block on the diagonal is seen twice: keep the mean of both triangles.
      const double share = r >= old ? 0.5 * v : v;
      h[r + j * m] += share;
      h[j + r * m] += share;
    }
  }
  basis.h = std::move(h);
  basis.m = m;
}

struct Ritz {
  std::vector<double> values;  // descending
  std::vector<double> s;       // m x m, columns the coefficients of the Ritz vectors
};

Ritz rayleigh_ritz(const Basis& basis) {
  const std::int64_t m = basis.m;
  Ritz r;
  r.s = basis.h;
  small_eigen(r.s, m, r.values);
  return r;
}

// `from` (rows x m: q, C q or xᵀ q) times the coefficients of the first k Ritz pairs.
std::vector<float> ritz_vectors(Cores& cores, const std::vector<float>& from, std::int64_t rows,
                                const Ritz& r, std::int64_t m, std::int32_t k) {
  std::vector<float> s(static_cast<std::size_t>(m * k)), v(static_cast<std::size_t>(rows * k));
  std::copy_n(r.s.begin(), m * k, s.begin());
  gemm_by_rows(cores, rows, k, m, 1.0f, from.data(), rows, s.data(), m, 0.0f, v.data(), rows);
  return v;
}

// Residuals w s - θ q s of the first k Ritz pairs (n x k) and their norms.
struct Residuals {
  std::vector<float> vectors;
  std::vector<double> norms;
};

Residuals residuals(Cores& cores, const Basis& basis, const Ritz& r, std::int32_t k) {
  Residuals res;
  res.vectors = ritz_vectors(cores, basis.w, basis.n, r, basis.m, k);
  const std::vector<float> v = ritz_vectors(cores, basis.q, basis.n, r, basis.m, k);
  for (std::int32_t c = 0; c < k; ++c) {
    double norm = 0.0;
    for (std::int64_t i = 0; i < basis.n; ++i) {
      const std::size_t at = static_cast<std::size_t>(i + c * basis.n);
      res.vectors[at] -= static_cast<float>(r.values[c] * v[at]);
      norm += static_cast<double>(res.vectors[at]) * res.vectors[at];
    }
    res.norms.push_back(std::sqrt(norm));
  }
  return res;
}

}  // namespace

KrylovSize krylov_size(std::int64_t n, std::int64_t frames, std::int64_t block_frames, int parts,
                       std::int64_t budget, std::int32_t wanted) {
  const std::int64_t reachable = std::min(n, frames);
  KrylovSize size;
  size.block = std::min<std::int64_t>(wanted > 0 ? wanted + kOversampling : kOpenBlock, reachable);
  // Per column: the basis, its image by C and the frames' coordinates on it (4 (2n + F) bytes),
  // besides the blocks of frames (two, or one a part), each part's share of C q and the Ritz
  // vectors.
  const std::int64_t room =
      budget - std::max(2, parts) * block_frames * n * 4 -
      static_cast<std::int64_t>(krylov_bytes({size.block, 0}, n, frames, parts));
  // The basis holds the random start block besides the range of C (at most `frames` wide): with
  // no more columns than frames it could not span that range when frames are few.
  size.columns = std::min({std::min(n, frames + size.block), size.block * kMaxPasses,
                           std::max<std::int64_t>(room / (4 * (2 * n + frames)), 0)});
  if (size.columns < std::min(2 * size.block, reachable)) {
    die("pca: a memory budget of " + std::to_string(budget >> 20) +
        " MiB is too small for the randomized solver (" + std::to_string(n) + " coordinates, " +
        std::to_string(frames) + " frames); give more with --memory");
  }
  return size;
}

std::uint64_t krylov_bytes(const KrylovSize& size, std::int64_t n, std::int64_t frames, int parts) {
  return 4 *
         static_cast<std::uint64_t>(size.columns * (2 * n + frames) + (parts + 2) * size.block * n);
}

Solution solve_randomized(FrameStream& stream, Centre& centre, Reducer& reducer,
                          std::int64_t budget, std::int32_t wanted, const ChooseFn& choose) {
  const std::int64_t n = stream.coordinates(), frames = stream.frames();
  // Sized for all frames, so that every process grows the same basis.
  const KrylovSize size =
      krylov_size(n, centre.frames, stream.block_frames(), stream.max_parts(), budget, wanted);
  const std::int64_t b = size.block;
  Basis basis;
  basis.n = n;
  basis.frames = frames;
  basis.mmax = size.columns;
  // Reserved, not touched: the basis grows block by block without reallocation.
  basis.q.reserve(static_cast<std::size_t>(n * basis.mmax));
  basis.w.reserve(static_cast<std::size_t>(n * basis.mmax));
  basis.z.reserve(static_cast<std::size_t>(frames * basis.mmax));

  basis.q.resize(static_cast<std::size_t>(n * b));
  std::mt19937 rng(20150);
  std::normal_distribution<float> normal;
  for (float& v : basis.q) v = normal(rng);
  Cores& cores = *centre.cores;
  orthonormalise(cores, {}, 0, basis.q, n, b);

  Solution s;
  Ritz r;
  std::int64_t width = b;
  bool done = false;
  for (int pass = 1;; ++pass) {
    multiply(stream, centre, reducer, basis, width, pass, pass == 1 ? &s.total : nullptr);
    extend_projection(cores, basis, width);
    r = rayleigh_ritz(basis);
    std::vector<float> values(r.values.begin(), r.values.end());
    s.kept = choose(values, s.total);
    s.eigenvalues = std::move(values);
    // The kept pairs and the oversampling ones after them.
    const auto watched = static_cast<std::int32_t>(
        std::min<std::int64_t>(std::max<std::int64_t>(s.kept + kOversampling, b), basis.m));
    const Residuals res = residuals(cores, basis, r, watched);
    const double tolerance = kResidual * r.values[0];
    done = true;
    for (std::int32_t c = 0; c < s.kept; ++c) done = done && res.norms[c] <= tolerance;
    // The next block: the residuals of the pairs that have not converged (they span the same
    // new directions as C times the newest block, less those that no longer matter), made
    // orthogonal to the basis.
    std::vector<std::int32_t> open;
    for (std::int32_t c = 0; c < watched; ++c) {
      if (res.norms[c] > tolerance) open.push_back(c);
    }
    width =
        std::min<std::int64_t>({b, static_cast<std::int64_t>(open.size()), basis.mmax - basis.m});
    if (done || width == 0 || pass == kMaxPasses) break;
    basis.q.resize(static_cast<std::size_t>(n * (basis.m + width)));
    std::span<float> next(basis.q.data() + basis.m * n, static_cast<std::size_t>(n * width));
    for (std::int64_t c = 0; c < width; ++c) {
      std::copy_n(res.vectors.begin() + open[c] * n, n, next.begin() + c * n);
    }
    orthonormalise(cores, basis.q, basis.m, next, n, width);
  }
  if (!done) {
    warn("pca: the randomized solver stopped at " + std::to_string(basis.m) +
         " basis vectors before the kept ones converged; the smaller eigenvalues may be too "
         "low (more --memory, or --solver exact, helps)");
  }
  if (s.kept > 0) {
    s.vectors = ritz_vectors(cores, basis.q, n, r, basis.m, s.kept);
    s.proj = ritz_vectors(cores, basis.z, frames, r, basis.m, s.kept);
  }
  return s;
}

}  // namespace kvtraj::pca

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
#include "pca/solvers.hpp"
#include "support/fatal.hpp"

namespace kvtraj::pca {
namespace {

// Extra columns beyond the vectors asked for, and the block width when the count is not known.
constexpr std::int32_t kOversampling = 10;
constexpr std::int32_t kOpenBlock = 40;
// A Ritz pair is converged when |C v - θ v| <= kResidual θ.
constexpr double kResidual = 2.0e-3;
constexpr int kMaxPasses = 60;

// Makes the columns of y (n x b) orthonormal and orthogonal to those of q (n x m): two rounds of
// projection and Householder QR, so that orthogonality holds to rounding even when y lies
// almost inside q's span.
void orthonormalise(std::span<const float> q, std::int64_t m, std::span<float> y, std::int64_t n,
                    std::int64_t b) {
  std::vector<float> c(static_cast<std::size_t>(std::max<std::int64_t>(m * b, 1)));
  std::vector<float> tau(static_cast<std::size_t>(b)), work(1);
  const lapack_int nn = blas_int(n), bb = blas_int(b);
  for (int round = 0; round < 2; ++round) {
    for (int twice = 0; twice < 2 && m > 0; ++twice) {
      gemm('T', 'N', m, b, n, 1.0f, q.data(), n, y.data(), n, 0.0f, c.data(), m);
      gemm('N', 'N', n, b, m, -1.0f, q.data(), n, c.data(), m, 1.0f, y.data(), n);
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
  std::int64_t m = 0;     // columns so far
  std::vector<float> q;   // n x m, orthonormal
  std::vector<float> w;   // n x m, C q
  std::vector<double> h;  // qᵀ C q, grown as an mmax x mmax array
  std::int64_t mmax = 0;
};

// One pass: w_new = C q_new (and, on the first pass, the total variance).
void multiply(FrameStream& stream, const Centre& centre, Reducer& reducer, Basis& basis,
              std::int64_t b, int pass, double* total) {
  const std::int64_t n = basis.n, frames = stream.frames();
  const float* q = basis.q.data() + basis.m * n;
  float* w = basis.w.data() + basis.m * n;
  std::fill(w, w + n * b, 0.0f);
  std::vector<float> t;
  double squares = 0.0;
  stream.pass("Krylov pass " + std::to_string(pass),
              [&](std::int64_t, std::int64_t count, std::span<float> block) {
                centre.apply(block, count);
                if (total != nullptr) {
                  for (const float v : block) squares += static_cast<double>(v) * v;
                }
                t.resize(static_cast<std::size_t>(count * b));
                gemm('T', 'N', count, b, n, 1.0f, block.data(), n, q, n, 0.0f, t.data(), count);
                gemm('N', 'N', n, b, count, 1.0f, block.data(), n, t.data(), count, 1.0f, w, n);
              });
  reducer.sum(std::span<float>(w, static_cast<std::size_t>(n * b)));
  const auto scale =
      static_cast<float>(1.0 / static_cast<double>(std::max<std::int64_t>(frames, 1)));
  for (std::int64_t i = 0; i < n * b; ++i) w[i] *= scale;
  if (total != nullptr) {
    std::span<double> sum(&squares, 1);
    reducer.sum(sum);
    *total = squares / static_cast<double>(std::max<std::int64_t>(frames, 1));
  }
}

// Adds the new block's column of qᵀ C q (symmetric: its row too) and grows the basis.
void extend_projection(Basis& basis, std::int64_t b) {
  const std::int64_t n = basis.n, m = basis.m + b;
  std::vector<float> col(static_cast<std::size_t>(m * b));
  gemm('T', 'N', m, b, n, 1.0f, basis.q.data(), n, basis.w.data() + basis.m * n, n, 0.0f,
       col.data(), m);
  for (std::int64_t c = 0; c < b; ++c) {
    for (std::int64_t r = 0; r < m; ++r) {
      const double v = col[r + c * m];
      const std::int64_t j = basis.m + c;
      // The block on the diagonal is seen twice: keep the mean of both triangles.
      if (r >= basis.m) {
        basis.h[r + j * basis.mmax] += 0.5 * v;
        basis.h[j + r * basis.mmax] += 0.5 * v;
      } else {
        basis.h[r + j * basis.mmax] = v;
        basis.h[j + r * basis.mmax] = v;
      }
    }
  }
  basis.m = m;
}

struct Ritz {
  std::vector<double> values;  // descending
  std::vector<double> s;       // m x m, columns the coefficients of the Ritz vectors
};

Ritz rayleigh_ritz(const Basis& basis) {
  const std::int64_t m = basis.m;
  Ritz r;
  r.s.resize(static_cast<std::size_t>(m * m));
  for (std::int64_t j = 0; j < m; ++j) {
    for (std::int64_t i = 0; i < m; ++i) r.s[i + j * m] = basis.h[i + j * basis.mmax];
  }
  small_eigen(r.s, m, r.values);
  return r;
}

// Ritz vectors q s (n x k) of the first k pairs.
std::vector<float> ritz_vectors(const std::vector<float>& from, const Basis& basis, const Ritz& r,
                                std::int32_t k) {
  const std::int64_t n = basis.n, m = basis.m;
  std::vector<float> s(static_cast<std::size_t>(m * k)), v(static_cast<std::size_t>(n * k));
  std::copy_n(r.s.begin(), m * k, s.begin());
  gemm('N', 'N', n, k, m, 1.0f, from.data(), n, s.data(), m, 0.0f, v.data(), n);
  return v;
}

// Whether every one of the first k Ritz pairs has a small residual |w s - θ q s|.
bool converged(const Basis& basis, const Ritz& r, std::int32_t k) {
  if (k == 0) return true;
  const std::vector<float> cv = ritz_vectors(basis.w, basis, r, k);
  const std::vector<float> v = ritz_vectors(basis.q, basis, r, k);
  for (std::int32_t c = 0; c < k; ++c) {
    double norm = 0.0;
    for (std::int64_t i = 0; i < basis.n; ++i) {
      const std::size_t at = static_cast<std::size_t>(i + c * basis.n);
      const double d = cv[at] - r.values[c] * v[at];
      norm += d * d;
    }
    if (std::sqrt(norm) > kResidual * std::abs(r.values[c])) return false;
  }
  return true;
}

}  // namespace

Solution solve_randomized(FrameStream& stream, const Centre& centre, Reducer& reducer,
                          std::int64_t budget, std::int32_t wanted, const ChooseFn& choose) {
  const std::int64_t n = stream.coordinates(), frames = stream.frames();
  const std::int64_t reachable = std::min(n, frames);
  const std::int64_t b =
      std::min<std::int64_t>(wanted > 0 ? wanted + kOversampling : kOpenBlock, reachable);
  Basis basis;
  basis.n = n;
  // The basis and its image by C (2 n m floats), the projections of the kept vectors and the
  // Rayleigh quotient matrix must fit the budget.
  const std::int64_t room = budget - frames * b * 4 - 2 * b * n * 4;
  basis.mmax = std::min(reachable, std::max<std::int64_t>(room / (8 * n + 16 * b), 0));
  if (basis.mmax < std::min(2 * b, reachable)) {
    die("pca: a memory budget of " + std::to_string(budget >> 20) +
        " MiB is too small for the randomized solver (" + std::to_string(n) + " coordinates, " +
        std::to_string(frames) + " frames); give more with --memory");
  }
  basis.q.reserve(static_cast<std::size_t>(n * basis.mmax));
  basis.w.reserve(static_cast<std::size_t>(n * basis.mmax));
  basis.h.assign(static_cast<std::size_t>(basis.mmax * basis.mmax), 0.0);

  basis.q.resize(static_cast<std::size_t>(n * b));
  std::mt19937 rng(20150);
  std::normal_distribution<float> normal;
  for (float& v : basis.q) v = normal(rng);
  orthonormalise({}, 0, basis.q, n, b);

  Solution s;
  Ritz r;
  std::int64_t width = b, last = b;
  for (int pass = 1;; ++pass) {
    basis.w.resize(static_cast<std::size_t>(n * (basis.m + width)));
    multiply(stream, centre, reducer, basis, width, pass, pass == 1 ? &s.total : nullptr);
    extend_projection(basis, width);
    r = rayleigh_ritz(basis);
    std::vector<float> values(r.values.begin(), r.values.end());
    s.kept = choose(values, s.total);
    s.eigenvalues = std::move(values);
    last = width;
    width = std::min(b, basis.mmax - basis.m);
    if (width == 0 || pass == kMaxPasses || converged(basis, r, s.kept)) break;
    // The next block: C times the newest block, made orthogonal to the basis.
    basis.q.resize(static_cast<std::size_t>(n * (basis.m + width)));
    std::span<float> next(basis.q.data() + basis.m * n, static_cast<std::size_t>(n * width));
    std::copy_n(basis.w.data() + (basis.m - last) * n, n * width, next.begin());
    orthonormalise(basis.q, basis.m, next, n, width);
  }
  if (s.kept > 0) {
    s.vectors = ritz_vectors(basis.q, basis, r, s.kept);
    s.proj = project(stream, centre, s.vectors, s.kept);
  }
  return s;
}

}  // namespace kvtraj::pca

// Cyclic Jacobi diagonalisation of packed symmetric matrices and the descending eigenvalue sort.
#include <cmath>
#include <cstddef>
#include <utility>

#include "superpose/superpose.hpp"

namespace kvtraj {
namespace {

// Position of (i, j) of the packed upper triangle, 0-based, any order of the subscripts.
std::size_t packed(std::size_t i, std::size_t j) {
  if (i > j) std::swap(i, j);
  return i + j * (j + 1) / 2;
}

struct Plane {
  double sin = 0.0;
  double cos = 1.0;
};

// The rotation that annihilates a(l,m).
Plane plane_of(std::span<const double> a, std::size_t l, std::size_t m) {
  const double alm = a[packed(l, m)];
  const double x = 0.5 * (a[packed(l, l)] - a[packed(m, m)]);
  double y = alm / std::sqrt(alm * alm + x * x);
  if (x >= 0.0) y = -y;
  Plane p;
  p.sin = y / std::sqrt(2.0 * (1.0 + std::sqrt(1.0 - y * y)));
  p.cos = std::sqrt(1.0 - p.sin * p.sin);
  return p;
}

void rotate(std::span<double> a, std::span<double> r, std::size_t n, bool vectors, std::size_t l,
            std::size_t m) {
  const Plane p = plane_of(a, l, m);
  for (std::size_t i = 0; i < n; ++i) {
    if (i == l || i == m) continue;
    const double il = a[packed(i, l)];
    const double im = a[packed(i, m)];
    a[packed(i, m)] = il * p.sin + im * p.cos;
    a[packed(i, l)] = il * p.cos - im * p.sin;
  }
  if (vectors) {
    for (std::size_t i = 0; i < n; ++i) {
      const double il = r[i + l * n];
      const double im = r[i + m * n];
      r[i + m * n] = il * p.sin + im * p.cos;
      r[i + l * n] = il * p.cos - im * p.sin;
    }
  }
  const double ll = a[packed(l, l)];
  const double mm = a[packed(m, m)];
  const double lm = a[packed(l, m)];
  const double sincos = p.sin * p.cos;
  const double cos2 = p.cos * p.cos;
  const double sin2 = p.sin * p.sin;
  a[packed(l, m)] = (ll - mm) * sincos + lm * (cos2 - sin2);
  a[packed(l, l)] = ll * cos2 + mm * sin2 - 2.0 * lm * sincos;
  a[packed(m, m)] = ll * sin2 + mm * cos2 + 2.0 * lm * sincos;
}

// One pass over the strictly upper triangle; true when any element was rotated away.
bool sweep(std::span<double> a, std::span<double> r, std::size_t n, bool vectors, double thr) {
  bool rotated = false;
  for (std::size_t l = 0; l + 1 < n; ++l) {
    for (std::size_t m = l + 1; m < n; ++m) {
      if (std::fabs(a[packed(l, m)]) >= thr) {
        rotated = true;
        rotate(a, r, n, vectors, l, m);
      }
    }
  }
  return rotated;
}

double off_diagonal_squares(std::span<const double> a, std::size_t n) {
  double x = 0.0;
  for (std::size_t j = 1; j < n; ++j) {
    for (std::size_t i = 0; i < j; ++i) x += a[packed(i, j)] * a[packed(i, j)];
  }
  return x;
}

}  // namespace

void eigen(std::span<double> a, std::span<double> r, std::int32_t n, std::int32_t mv) {
  const bool vectors = mv != 1;
  if (n <= 0) return;
  const auto order = static_cast<std::size_t>(n);
  if (vectors) {
    for (std::size_t j = 0; j < order; ++j) {
      for (std::size_t i = 0; i < order; ++i) r[i + j * order] = i == j ? 1.0 : 0.0;
    }
  }
  const double x = off_diagonal_squares(a, order);
  // Already diagonal; a matrix holding infinities or NaNs has no spectrum to find, and
  // rotating it would never settle.
  if (!(x > 0.0) || !std::isfinite(x)) return;
  const double anorm = std::sqrt(2.0 * x);
  const double anrmx = anorm * 1.0e-12 / n;
  double thr = anorm / n;
  for (;;) {
    if (sweep(a, r, order, vectors, thr)) continue;
    if (!(thr > anrmx)) break;
    thr /= n;
  }
}

// Selection of the first largest remaining value, moved into place by adjacent exchanges so
// that equal eigenvalues (and their vectors) keep the order in which they stood.
void esort(std::span<double> a, std::span<double> r, std::int32_t n, std::int32_t mv) {
  if (n <= 0) return;
  const auto order = static_cast<std::size_t>(n);
  for (std::size_t i = 0; i < order; ++i) {
    std::size_t largest = i;
    for (std::size_t j = i + 1; j < order; ++j) {
      if (a[packed(largest, largest)] < a[packed(j, j)]) largest = j;
    }
    for (std::size_t j = largest; j > i; --j) {
      std::swap(a[packed(j, j)], a[packed(j - 1, j - 1)]);
      if (mv != 1) {
        for (std::size_t k = 0; k < order; ++k) std::swap(r[k + j * order], r[k + (j - 1) * order]);
      }
    }
  }
}

}  // namespace kvtraj

#include "topology/periodic.hpp"

#include <algorithm>
#include <cmath>

namespace kvtraj {
namespace {

using Vec = std::array<double, 3>;
using Rows = std::array<double, 9>;

Vec row(const Rows& m, int i) {
  return {m[3 * i], m[3 * i + 1], m[3 * i + 2]};
}

void set_row(Rows& m, int i, const Vec& v) {
  for (int k = 0; k < 3; ++k) m[3 * i + k] = v[k];
}

double dot(const Vec& u, const Vec& v) {
  return u[0] * v[0] + u[1] * v[1] + u[2] * v[2];
}

Vec axpy(double s, const Vec& u, const Vec& v) {  // s u + v
  return {s * u[0] + v[0], s * u[1] + v[1], s * u[2] + v[2]};
}

double determinant(const Rows& m) {
  return m[0] * (m[4] * m[8] - m[5] * m[7]) - m[1] * (m[3] * m[8] - m[5] * m[6]) +
         m[2] * (m[3] * m[7] - m[4] * m[6]);
}

Rows inverse(const Rows& m) {
  const double inv_det = 1.0 / determinant(m);
  return {(m[4] * m[8] - m[5] * m[7]) * inv_det, (m[2] * m[7] - m[1] * m[8]) * inv_det,
          (m[1] * m[5] - m[2] * m[4]) * inv_det, (m[5] * m[6] - m[3] * m[8]) * inv_det,
          (m[0] * m[8] - m[2] * m[6]) * inv_det, (m[2] * m[3] - m[0] * m[5]) * inv_det,
          (m[3] * m[7] - m[4] * m[6]) * inv_det, (m[1] * m[6] - m[0] * m[7]) * inv_det,
          (m[0] * m[4] - m[1] * m[3]) * inv_det};
}

// n · M: the lattice vector of integer coordinates n over the rows of M.
Vec lattice(const Rows& m, const Vec& n) {
  return axpy(n[2], row(m, 2), axpy(n[1], row(m, 1), axpy(n[0], row(m, 0), Vec{0.0, 0.0, 0.0})));
}

// x · M for a row vector x: fractional coordinates when M is the inverse of a row matrix.
Vec times(const Vec& x, const Rows& m) {
  return {x[0] * m[0] + x[1] * m[3] + x[2] * m[6], x[0] * m[1] + x[1] * m[4] + x[2] * m[7],
          x[0] * m[2] + x[1] * m[5] + x[2] * m[8]};
}

bool finite_positive(float v) {
  return std::isfinite(v) && v > 0.0f;
}

// Below this volume relative to the brick of the same lengths the vectors count as dependent.
constexpr double kMinVolumeRatio = 1e-6;

bool valid_cell(const UnitCell& cell, const Rows& rows) {
  if (!finite_positive(cell.a) || !finite_positive(cell.b) || !finite_positive(cell.c)) {
    return false;
  }
  for (const double v : rows) {
    if (!std::isfinite(v)) return false;
  }
  const double brick = double(cell.a) * double(cell.b) * double(cell.c);
  return std::fabs(determinant(rows)) > kMinVolumeRatio * brick;
}

// Replaces b[i] by `candidate` when it is clearly shorter (the margin stops rounding from
// swapping equal vectors forever).
bool shorten(Rows& b, int i, const Vec& candidate) {
  const Vec old = row(b, i);
  if (dot(candidate, candidate) >= dot(old, old) * (1.0 - 1e-12)) return false;
  set_row(b, i, candidate);
  return true;
}

// One pass of reduction: each vector shortened by integer multiples of each other one (Gauss),
// and by the sums b_i ± b_j ± b_k, which pairwise steps miss. Unimodular, so the lattice stays.
bool reduce_pass(Rows& b) {
  bool changed = false;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      if (i == j) continue;
      const Vec bj = row(b, j);
      const double k = std::round(dot(row(b, i), bj) / dot(bj, bj));
      if (k != 0.0) changed |= shorten(b, i, axpy(-k, bj, row(b, i)));
    }
  }
  for (int i = 0; i < 3; ++i) {
    const Vec bj = row(b, (i + 1) % 3), bk = row(b, (i + 2) % 3);
    for (const double sj : {-1.0, 1.0}) {
      for (const double sk : {-1.0, 1.0}) {
        changed |= shorten(b, i, axpy(sk, bk, axpy(sj, bj, row(b, i))));
      }
    }
  }
  return changed;
}

// One step of Selling's reduction of a superbase (four vectors of sum 0) where two of them make
// an acute angle: it lowers the sum of the squared lengths by 2 v_i · v_j and keeps the lattice.
bool selling_step(std::array<Vec, 4>& v) {
  for (int i = 0; i < 4; ++i) {
    for (int j = i + 1; j < 4; ++j) {
      if (dot(v[i], v[j]) <= 1e-12 * (dot(v[i], v[i]) + dot(v[j], v[j]))) continue;
      for (int k = 0; k < 4; ++k) {
        if (k != i && k != j) v[k] = axpy(1.0, v[i], v[k]);
      }
      v[i] = axpy(-2.0, v[i], v[i]);
      return true;
    }
  }
  return false;
}

// Shortens the basis until no step of reduce_pass helps, then turns it into an obtuse superbase
// (Selling): with v0 = -(v1 + v2 + v3), every v_i · v_j <= 0. The vectors a point must be
// compared with to lie in the Voronoi cell of the origin are then sums of some of v0..v3
// (Conway and Sloane, 1992): combinations of v1, v2, v3 with coefficients -1, 0 and 1.
Rows reduced_basis(Rows b) {
  for (int pass = 0; pass < 100 && reduce_pass(b); ++pass) {
  }
  std::array<Vec, 4> v{row(b, 0), row(b, 1), row(b, 2), Vec{}};
  v[3] = axpy(-1.0, v[0], axpy(-1.0, v[1], axpy(-1.0, v[2], Vec{0.0, 0.0, 0.0})));
  for (int step = 0; step < 1000 && selling_step(v); ++step) {
  }
  for (int i = 0; i < 3; ++i) set_row(b, i, v[i]);
  return b;
}

}  // namespace

PeriodicBox::PeriodicBox(const UnitCell& cell) : rows_(box_vectors(cell)) {
  valid_ = valid_cell(cell, rows_);
  if (!valid_) return;
  inverse_ = inverse(rows_);
  reduced_ = reduced_basis(rows_);
  reduced_inverse_ = inverse(reduced_);
  double shortest_sq = dot(row(reduced_, 0), row(reduced_, 0));
  std::size_t next = 0;
  for (double i = -1; i <= 1; ++i) {
    for (double j = -1; j <= 1; ++j) {
      for (double k = -1; k <= 1; ++k) {
        if (i == 0 && j == 0 && k == 0) continue;
        steps_[next] = lattice(reduced_, Vec{i, j, k});
        shortest_sq = std::min(shortest_sq, dot(steps_[next], steps_[next]));
        ++next;
      }
    }
  }
  // The shortest lattice vector is one of the steps: it is always a Voronoi-relevant one.
  quarter_shortest_sq_ = 0.25 * shortest_sq;
}

std::array<double, 3> PeriodicBox::fractional(std::array<double, 3> x) const {
  return times(x, inverse_);
}

std::array<double, 3> PeriodicBox::image_shift(std::array<double, 3> d) const {
  if (!valid_) return {0.0, 0.0, 0.0};
  // Rounding the fractional coordinates in the reduced basis gives the nearest lattice vector
  // whenever the rest is within half the shortest lattice vector of the origin. Otherwise the
  // rest moves by the step that shortens it most until none does: it is then in the Voronoi
  // cell of the origin, the shortest image. From the rounded point that takes a step or two;
  // the bound only stops positions too large for doubles to place from going on.
  const Vec s = times(d, reduced_inverse_);
  Vec shift = lattice(reduced_, Vec{std::round(s[0]), std::round(s[1]), std::round(s[2])});
  Vec rest = axpy(-1.0, shift, d);
  double rest_sq = dot(rest, rest);
  for (int pass = 0; pass < 16 && rest_sq > quarter_shortest_sq_; ++pass) {
    const Vec* best = nullptr;
    for (const Vec& step : steps_) {
      const Vec r = axpy(-1.0, step, rest);
      if (dot(r, r) < rest_sq) rest_sq = dot(r, r), best = &step;
    }
    if (best == nullptr) break;
    rest = axpy(-1.0, *best, rest);
    shift = axpy(1.0, *best, shift);
  }
  return shift;
}

std::array<double, 3> PeriodicBox::shortest(std::array<double, 3> d) const {
  const Vec shift = image_shift(d);
  return {d[0] - shift[0], d[1] - shift[1], d[2] - shift[2]};
}

}  // namespace kvtraj

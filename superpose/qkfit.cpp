// The least-squares rotation kernel: singular values of the correlation matrix through the
// eigenvalues of u^T u, either by Jacobi (with the rotation) or in closed form (sum only).
#include <cmath>

#include "superpose/superpose.hpp"

namespace kvtraj {
namespace {

// The single-precision values of 1/3, 4/3, pi/2 and pi, used in double arithmetic.
constexpr double kThird = 0.3333333432674408;
constexpr double kFourThirds = 1.3333333730697632;
constexpr double kHalfPi = 1.5707963705062866;
constexpr double kPi = 3.1415927410125732;
constexpr double kCutoff = 1.0e-12;

using Vec3 = std::array<double, 3>;

double at(const Matrix3d& m, int i, int j) {
  return m[i + 3 * j];
}

Vec3 column(const Matrix3d& m, int j) {
  return {m[3 * j], m[1 + 3 * j], m[2 + 3 * j]};
}

Vec3 cross(const Vec3& a, const Vec3& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

double dot(const Vec3& a, const Vec3& b) {
  return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

Vec3 scaled(const Vec3& a, double s) {
  return {a[0] * s, a[1] * s, a[2] * s};
}

// The packed upper triangle of u^T u: (1,1) (1,2) (2,2) (1,3) (2,3) (3,3).
std::array<double, 6> gram(const Matrix3d& u) {
  std::array<double, 6> s{};
  int k = 0;
  for (int j = 0; j < 3; ++j) {
    for (int i = 0; i <= j; ++i) s[k++] = dot(column(u, i), column(u, j));
  }
  return s;
}

double determinant(const Matrix3d& u) {
  return dot(column(u, 0), cross(column(u, 1), column(u, 2)));
}

// A unit vector perpendicular to the unit vector `a`.
Vec3 perpendicular(const Vec3& a) {
  int k = 0;  // the axis least aligned with a
  for (int i = 1; i < 3; ++i) {
    if (std::fabs(a[i]) < std::fabs(a[k])) k = i;
  }
  Vec3 axis{};
  axis[k] = 1.0;
  const Vec3 p = cross(a, axis);
  return scaled(p, 1.0 / std::sqrt(dot(p, p)));
}

// Columns b1, b2 of u E made unit and orthogonal. When u e1 vanishes there is no rotation to
// find (false); when u e2 vanishes (all atoms on one line) every b2 perpendicular to b1 is
// equally good. b2 is orthogonalised against b1 so that rounding in u e2 for nearly collinear
// sets cannot make the result other than a rotation.
bool unit_frame(Vec3& b1, Vec3& b2) {
  const double l1 = std::sqrt(dot(b1, b1));
  if (!(l1 > 0.0) || !std::isfinite(l1)) return false;
  b1 = scaled(b1, 1.0 / l1);
  b2 = {b2[0] - dot(b1, b2) * b1[0], b2[1] - dot(b1, b2) * b1[1], b2[2] - dot(b1, b2) * b1[2]};
  const double l2 = std::sqrt(dot(b2, b2));
  b2 = l2 > kCutoff * l1 ? scaled(b2, 1.0 / l2) : perpendicular(b1);
  return true;
}

double root_or_zero(double lambda) {
  return lambda < 0.0 ? 0.0 : std::sqrt(lambda);
}

void fit_with_rotation(const Matrix3d& u, double& rtsum, Matrix3f& rot) {
  std::array<double, 6> s = gram(u);
  Matrix3d work{};  // eigenvectors of u^T u; local, so that fits may run on several threads
  eigen(s, work, 3, 0);
  esort(s, work, 3, 0);
  const Vec3 e1 = column(work, 0);
  const Vec3 e2 = column(work, 1);
  const Vec3 e3 = cross(e1, e2);
  for (int i = 0; i < 3; ++i) work[i + 6] = e3[i];
  auto times_u = [&u](const Vec3& e) {
    Vec3 b{};
    for (int i = 0; i < 3; ++i) b[i] = at(u, i, 0) * e[0] + at(u, i, 1) * e[1] + at(u, i, 2) * e[2];
    return b;
  };
  Vec3 b1 = times_u(e1);
  Vec3 b2 = times_u(e2);
  const Vec3 b3_raw = times_u(e3);
  const bool defined = unit_frame(b1, b2);
  const Vec3 b3 = cross(b1, b2);
  const double sign = dot(b3, b3_raw) >= 0.0 ? 1.0 : -1.0;
  for (int j = 0; j < 3; ++j) {
    for (int i = 0; i < 3; ++i) {
      const double v = b1[i] * work[j] + b2[i] * work[j + 3] + b3[i] * work[j + 6];
      rot[i + 3 * j] = defined ? static_cast<float>(v) : (i == j ? 1.0f : 0.0f);
    }
  }
  const double s3 = root_or_zero(s[5]);
  rtsum = root_or_zero(s[0]) + root_or_zero(s[2]) + sign * s3;
}

// Roots of the depressed characteristic cubic of the shifted u^T u, largest first.
Vec3 shifted_roots(const std::array<double, 6>& m) {
  const double s11 = m[0], s12 = m[1], s22 = m[2], s13 = m[3], s23 = m[4], s33 = m[5];
  const double p = s12 * s12 + s13 * s13 + s23 * s23 - (s11 * s22 + s22 * s33 + s11 * s33);
  if (!(p > kCutoff)) return {0.0, 0.0, 0.0};
  const double r = std::sqrt(p * kFourThirds);
  const double q =
      s11 * s22 * s33 + 2.0 * s12 * s13 * s23 - s11 * s23 * s23 - s22 * s13 * s13 - s33 * s12 * s12;
  double g = 3.0 * q / (p * r);
  if (std::fabs(g) > 1.0) g = g > 0.0 ? 1.0 : -1.0;
  double angle = kHalfPi;
  if (g != 0.0) {
    angle = std::atan(std::sqrt(1.0 - g * g) / g);
    if (g < 0.0) angle = kPi - angle;
  }
  const double l1 = r * std::cos(angle * kThird);
  const double h = 0.5 * std::sqrt(3.0 * (r * r - l1 * l1));
  return {l1, h - 0.5 * l1, -0.5 * l1 - h};
}

void fit_sum_only(const Matrix3d& u, double& rtsum) {
  const double sign = determinant(u) < 0.0 ? -1.0 : 1.0;
  const std::array<double, 6> s = gram(u);
  const double t = (s[0] + s[2] + s[5]) * kThird;
  std::array<double, 6> shifted = s;
  shifted[0] -= t;
  shifted[2] -= t;
  shifted[5] -= t;
  const Vec3 lambda = shifted_roots(shifted);
  double sigma[3];
  for (int k = 0; k < 3; ++k) {
    const double x = t + lambda[k];
    sigma[k] = x < kCutoff ? 0.0 : std::sqrt(x);
  }
  rtsum = sigma[0] + sigma[1] + sign * sigma[2];
}

}  // namespace

void qkfit(const Matrix3d& u, double& rtsum, Matrix3f& rot, std::int32_t mode) {
  if (mode != 0) {
    fit_with_rotation(u, rtsum, rot);
  } else {
    fit_sum_only(u, rtsum);
  }
}

}  // namespace kvtraj

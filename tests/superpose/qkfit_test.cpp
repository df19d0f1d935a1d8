// qkfit against singular values computed independently (the test's own Jacobi of u^T u).
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "reference_fit.hpp"
#include "superpose/superpose.hpp"

namespace kvtraj {
namespace {

// Singular values of u, largest first, and the sign of det u.
std::vector<double> singular_values(const Matrix3d& u) {
  std::vector<double> utu(9, 0.0);
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      for (int k = 0; k < 3; ++k) utu[i + 3 * j] += u[k + 3 * i] * u[k + 3 * j];
    }
  }
  std::vector<double> values, vectors;
  testing::symmetric_eigen(utu, 3, values, vectors);
  return {std::sqrt(std::max(values[2], 0.0)), std::sqrt(std::max(values[1], 0.0)),
          std::sqrt(std::max(values[0], 0.0))};
}

double det(const Matrix3d& u) {
  return u[0] * (u[4] * u[8] - u[7] * u[5]) - u[3] * (u[1] * u[8] - u[7] * u[2]) +
         u[6] * (u[1] * u[5] - u[4] * u[2]);
}

Matrix3d random_matrix(std::mt19937& rng) {
  std::normal_distribution<double> normal(0.0, 3.0);
  Matrix3d u;
  for (double& v : u) v = normal(rng);
  return u;
}

// tr(rot^T u): what the best rotation maximises; equals rtsum at the optimum.
double alignment(const Matrix3f& rot, const Matrix3d& u) {
  double t = 0.0;
  for (int k = 0; k < 9; ++k) t += rot[k] * u[k];
  return t;
}

TEST(Qkfit, SignedSingularValueSumAndAProperRotation) {
  std::mt19937 rng(3);
  int reflections = 0;
  for (int trial = 0; trial < 200; ++trial) {
    const Matrix3d u = random_matrix(rng);
    const std::vector<double> s = singular_values(u);
    const bool reflection = det(u) < 0.0;
    reflections += reflection;
    const double expected = s[0] + s[1] + (reflection ? -s[2] : s[2]);
    double rtsum = 0.0;
    Matrix3f rot{};
    qkfit(u, rtsum, rot, 1);
    EXPECT_NEAR(rtsum, expected, 1e-9 * s[0]);
    EXPECT_LT(testing::orthogonality_error(rot), 1e-6);
    EXPECT_NEAR(testing::determinant(rot), 1.0, 1e-6);
    EXPECT_NEAR(alignment(rot, u), expected, 1e-5 * s[0]);
    // The closed form works with single-precision values of 1/3, 4/3 and pi: its eigenvalues
    // of u^T u carry relative errors near 1e-8, which reach the sum as up to about 1e-5 sigma1.
    double closed_form = 0.0;
    qkfit(u, closed_form, rot, 0);
    EXPECT_NEAR(closed_form, rtsum, 3e-5 * s[0]);
  }
  EXPECT_GT(reflections, 50);  // both signs of det u were exercised
}

TEST(Qkfit, ClosedFormLeavesTheRotationUntouched) {
  std::mt19937 rng(5);
  const Matrix3d u = random_matrix(rng);
  Matrix3f rot;
  rot.fill(7.0f);
  double rtsum = 0.0;
  qkfit(u, rtsum, rot, 0);
  for (float v : rot) EXPECT_EQ(v, 7.0f);
  EXPECT_GT(rtsum, 0.0);
}

TEST(Qkfit, IdenticalCentredSetsGiveTheIdentity) {
  std::mt19937 rng(9);
  std::vector<float> set = testing::random_set(rng, 30, 4.0);
  double mean[3] = {};
  for (std::size_t k = 0; k < set.size(); ++k) mean[k % 3] += set[k] / 30.0;
  Matrix3d u{};
  double squares = 0.0;
  for (int k = 0; k < 30; ++k) {
    for (int i = 0; i < 3; ++i) {
      const double a = set[3 * k + i] - mean[i];
      squares += a * a;
      for (int j = 0; j < 3; ++j) u[i + 3 * j] += a * (set[3 * k + j] - mean[j]) / 30.0;
    }
  }
  for (int mode : {1, 0}) {
    double rtsum = 0.0;
    Matrix3f rot{};
    qkfit(u, rtsum, rot, mode);
    EXPECT_NEAR(rtsum, squares / 30.0, (mode == 0 ? 1e-7 : 1e-12) * squares) << mode;
    if (mode == 0) continue;
    for (int k = 0; k < 9; ++k) EXPECT_NEAR(rot[k], k % 4 == 0 ? 1.0f : 0.0f, 1e-6f);
  }
}

TEST(Qkfit, AlreadyDiagonalGram) {
  // u = diag(3, -1, 2) rotated by nothing: u^T u = diag(9, 1, 4), det < 0.
  const Matrix3d u = {3, 0, 0, 0, -1, 0, 0, 0, 2};
  double rtsum = 0.0;
  Matrix3f rot{};
  qkfit(u, rtsum, rot, 1);
  EXPECT_NEAR(rtsum, 3.0 + 2.0 - 1.0, 1e-12);
  // The best proper rotation keeps x and z and must not flip y alone: the identity.
  for (int k = 0; k < 9; ++k) EXPECT_NEAR(rot[k], k % 4 == 0 ? 1.0f : 0.0f, 1e-7f);
}

TEST(Qkfit, ZeroAndRankOneMatricesStayFinite) {
  double rtsum = -1.0;
  Matrix3f rot{};
  qkfit(Matrix3d{}, rtsum, rot, 1);
  EXPECT_EQ(rtsum, 0.0);
  EXPECT_EQ(rot, (Matrix3f{1, 0, 0, 0, 1, 0, 0, 0, 1}));
  // Rank one: u = a b^T, all atoms on one line.
  const double a[3] = {1.0, 2.0, -2.0}, b[3] = {0.0, 3.0, 4.0};
  Matrix3d u{};
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) u[i + 3 * j] = a[i] * b[j];
  }
  double closed_form = 0.0;
  qkfit(u, closed_form, rot, 0);
  // Two zero singular values, each recovered by the closed form as about sqrt(1e-8) sigma1.
  EXPECT_NEAR(closed_form, 15.0, 2e-4 * 15.0);
  qkfit(u, rtsum, rot, 1);
  EXPECT_NEAR(rtsum, 15.0, 1e-6);  // |a| |b|
  EXPECT_LT(testing::orthogonality_error(rot), 1e-6);
  EXPECT_NEAR(testing::determinant(rot), 1.0, 1e-6);
  EXPECT_NEAR(alignment(rot, u), 15.0, 1e-5);
}

}  // namespace
}  // namespace kvtraj

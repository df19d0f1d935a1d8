// eigen / esort on packed symmetric matrices with known spectra.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "reference_fit.hpp"
#include "superpose/superpose.hpp"

namespace kvtraj {
namespace {

// Packed upper triangle of the full column-major n x n matrix m.
std::vector<double> pack(const std::vector<double>& m, int n) {
  std::vector<double> a;
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i <= j; ++i) a.push_back(m[i + j * n]);
  }
  return a;
}

double diagonal(const std::vector<double>& a, int k) {
  return a[k + k * (k + 1) / 2];
}

// Q diag(values) Q^T for a random orthogonal Q (from the test's own Jacobi of a random matrix).
std::vector<double> with_spectrum(const std::vector<double>& values, std::mt19937& rng,
                                  std::vector<double>& q) {
  const int n = static_cast<int>(values.size());
  std::normal_distribution<double> normal;
  std::vector<double> g(n * n);
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i <= j; ++i) g[i + j * n] = g[j + i * n] = normal(rng);
  }
  std::vector<double> unused;
  testing::symmetric_eigen(g, n, unused, q);
  std::vector<double> m(n * n, 0.0);
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      for (int k = 0; k < n; ++k) m[i + j * n] += q[i + k * n] * values[k] * q[j + k * n];
    }
  }
  return m;
}

TEST(Eigen, RecoversAKnownSpectrumAndItsVectors) {
  std::mt19937 rng(7);
  const std::vector<double> values = {4.0, -1.5, 9.0, 0.25, 2.0, -7.0};
  const int n = static_cast<int>(values.size());
  std::vector<double> q;
  const std::vector<double> m = with_spectrum(values, rng, q);
  std::vector<double> a = pack(m, n);
  std::vector<double> r(n * n);
  eigen(a, r, n, 0);
  esort(a, r, n, 0);
  const std::vector<double> expected = {9.0, 4.0, 2.0, 0.25, -1.5, -7.0};
  for (int k = 0; k < n; ++k) {
    EXPECT_NEAR(diagonal(a, k), expected[k], 1e-10) << k;
    // Residual of m v = lambda v and unit length.
    double length = 0.0;
    for (int i = 0; i < n; ++i) {
      double mv = 0.0;
      for (int j = 0; j < n; ++j) mv += m[i + j * n] * r[j + k * n];
      EXPECT_NEAR(mv, expected[k] * r[i + k * n], 1e-10);
      length += r[i + k * n] * r[i + k * n];
    }
    EXPECT_NEAR(length, 1.0, 1e-12);
  }
}

TEST(Eigen, LeavesADiagonalMatrixAndGivesTheIdentity) {
  std::vector<double> a = {3.0, 0.0, -2.0, 0.0, 0.0, 5.0};
  const std::vector<double> before = a;
  std::vector<double> r(9, 42.0);
  eigen(a, r, 3, 0);
  EXPECT_EQ(a, before);
  EXPECT_EQ(r, (std::vector<double>{1, 0, 0, 0, 1, 0, 0, 0, 1}));
  esort(a, r, 3, 0);
  EXPECT_EQ(diagonal(a, 0), 5.0);
  EXPECT_EQ(diagonal(a, 1), 3.0);
  EXPECT_EQ(diagonal(a, 2), -2.0);
  EXPECT_EQ(r, (std::vector<double>{0, 0, 1, 1, 0, 0, 0, 1, 0}));
}

TEST(Eigen, WithoutVectorsLeavesRAlone) {
  std::vector<double> a = {2.0, 1.0, 2.0};
  std::vector<double> r(4, -3.0);
  eigen(a, r, 2, 1);
  EXPECT_EQ(r, std::vector<double>(4, -3.0));
  EXPECT_NEAR(std::max(a[0], a[2]), 3.0, 1e-14);
  EXPECT_NEAR(std::min(a[0], a[2]), 1.0, 1e-14);
}

TEST(Eigen, RepeatedEigenvaluesGiveAnOrthonormalBasis) {
  std::mt19937 rng(11);
  const std::vector<double> values = {2.0, 2.0, 2.0, 5.0, 5.0};
  std::vector<double> q;
  const std::vector<double> m = with_spectrum(values, rng, q);
  std::vector<double> a = pack(m, 5);
  std::vector<double> r(25);
  eigen(a, r, 5, 0);
  esort(a, r, 5, 0);
  const std::vector<double> expected = {5.0, 5.0, 2.0, 2.0, 2.0};
  for (int k = 0; k < 5; ++k) {
    EXPECT_NEAR(diagonal(a, k), expected[k], 1e-12);
    for (int l = 0; l < 5; ++l) {
      double d = 0.0;
      for (int i = 0; i < 5; ++i) d += r[i + k * 5] * r[i + l * 5];
      EXPECT_NEAR(d, k == l ? 1.0 : 0.0, 1e-12);
    }
  }
}

TEST(Esort, KeepsEqualEigenvaluesAndTheirVectorsInOrder) {
  // Diagonal (2, 2, 5, 2, 5): the vectors are the unit vectors, told apart by their position.
  std::vector<double> a(15, 0.0);
  const double d[5] = {2, 2, 5, 2, 5};
  for (int k = 0; k < 5; ++k) a[k + k * (k + 1) / 2] = d[k];
  std::vector<double> r(25);
  eigen(a, r, 5, 0);
  esort(a, r, 5, 0);
  const int from[5] = {2, 4, 0, 1, 3};
  for (int k = 0; k < 5; ++k) {
    EXPECT_EQ(diagonal(a, k), d[from[k]]);
    EXPECT_EQ(r[from[k] + k * 5], 1.0) << "column " << k;
  }
}

}  // namespace
}  // namespace kvtraj

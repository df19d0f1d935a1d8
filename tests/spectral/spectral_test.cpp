// evals / evecs: residuals and orthonormality, ordering, strided views, the triangles read, the
// caller's matrix left alone, and the fatal cases.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "spectral/spectral.hpp"
#include "tests/testsupport/testsupport.hpp"

namespace kvtraj {
namespace {

// A random symmetric n x n matrix, column-major, with a spread-out spectrum.
std::vector<float> random_symmetric(int n, unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<float> normal;
  std::vector<float> a(static_cast<std::size_t>(n) * n);
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i <= j; ++i)
      a[i + j * n] = a[j + i * n] = normal(rng) + (i == j ? j * 0.5f : 0);
  }
  return a;
}

std::vector<float> all_values(const std::vector<float>& a, int n) {
  std::vector<float> w(n);
  evals({w.data(), n, 1}, column_major(a.data(), n, n));
  return w;
}

std::vector<float> leading_vectors(const std::vector<float>& a, int n, int nvec) {
  std::vector<float> z(static_cast<std::size_t>(n) * nvec);
  evecs(column_major(z.data(), n, nvec), column_major(a.data(), n, n), nvec);
  return z;
}

// max |A v - lambda v| over the columns of z, lambda the Rayleigh quotient; and max |Z^T Z - I|.
void expect_eigenpairs(const std::vector<float>& a, int n, const std::vector<float>& z, int nvec,
                       const std::vector<float>& values) {
  for (int k = 0; k < nvec; ++k) {
    const float* v = &z[static_cast<std::size_t>(k) * n];
    std::vector<double> av(n, 0.0);
    for (int j = 0; j < n; ++j) {
      for (int i = 0; i < n; ++i) av[i] += double{a[i + j * n]} * v[j];
    }
    double lambda = 0.0;
    for (int i = 0; i < n; ++i) lambda += av[i] * v[i];
    EXPECT_NEAR(lambda, values[k], 1e-4 * (1 + std::fabs(values[0]))) << "vector " << k;
    for (int i = 0; i < n; ++i) ASSERT_NEAR(av[i], lambda * v[i], 1e-3) << k << " " << i;
    for (int l = 0; l <= k; ++l) {
      double d = 0.0;
      for (int i = 0; i < n; ++i) d += double{v[i]} * z[i + static_cast<std::size_t>(l) * n];
      EXPECT_NEAR(d, k == l ? 1.0 : 0.0, 1e-5) << k << " " << l;
    }
  }
}

TEST(Spectral, DiagonalCase) {
  const std::vector<float> a = {1, 0, 0, 0, 3, 0, 0, 0, 2};
  EXPECT_EQ(all_values(a, 3), (std::vector<float>{3, 2, 1}));
  const std::vector<float> z = leading_vectors(a, 3, 2);
  EXPECT_EQ(std::fabs(z[1]), 1.0f);  // first column along the second axis
  EXPECT_EQ(z[0], 0.0f);
  EXPECT_EQ(z[2], 0.0f);
  EXPECT_EQ(std::fabs(z[5]), 1.0f);  // second column along the third axis
  EXPECT_EQ(z[3], 0.0f);
  EXPECT_EQ(z[4], 0.0f);
}

TEST(Spectral, ValuesDescendAndVectorsAreEigenvectors) {
  const int n = 60;
  const auto a = random_symmetric(n, 1);
  const auto values = all_values(a, n);
  for (int k = 1; k < n; ++k) EXPECT_GE(values[k - 1], values[k]);
  const auto z = leading_vectors(a, n, 7);
  expect_eigenpairs(a, n, z, 7, values);
  double trace = 0.0, sum = 0.0;
  for (int k = 0; k < n; ++k) trace += a[k + k * n], sum += values[k];
  EXPECT_NEAR(sum, trace, 1e-3);
}

TEST(Spectral, AllVectorsWhenNvecIsN) {
  const int n = 25;
  const auto a = random_symmetric(n, 2);
  const auto values = all_values(a, n);
  const auto z = leading_vectors(a, n, n);
  expect_eigenpairs(a, n, z, n, values);
}

TEST(Spectral, CallersMatrixIsUnchanged) {
  const int n = 40;
  const auto a = random_symmetric(n, 3);
  const auto before = a;
  all_values(a, n);
  leading_vectors(a, n, 5);
  EXPECT_EQ(std::memcmp(a.data(), before.data(), a.size() * sizeof(float)), 0);
}

TEST(Spectral, StridedViewsGiveTheContiguousResult) {
  const int n = 30, nvec = 4;
  const auto a = random_symmetric(n, 4);
  const auto values = all_values(a, n);
  const auto vectors = leading_vectors(a, n, nvec);
  // The matrix as every other row of every third column of a larger array, and as a row-major
  // (transposed) view running backwards from the far end.
  const std::int64_t ld = 2 * n + 1;
  std::vector<float> big(static_cast<std::size_t>(ld * 3 * n), -77.0f);
  std::vector<float> reversed(a.size());
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < n; ++i) {
      big[2 * i + 3 * j * ld] = a[i + j * n];
      reversed[a.size() - 1 - (j + i * n)] = a[i + j * n];
    }
  }
  const ConstMatrixView views[] = {{big.data(), n, n, 2, 3 * ld},
                                   {reversed.data() + a.size() - 1, n, n, -n, -1}};
  for (const ConstMatrixView& view : views) {
    std::vector<float> w(3 * n, 5.0f);
    evals({w.data(), n, 3}, view);
    for (int k = 0; k < n; ++k) EXPECT_EQ(w[3 * k], values[k]);
    EXPECT_EQ(w[1], 5.0f);  // only every third element is written
    std::vector<float> z(static_cast<std::size_t>(2 * n * nvec), 6.0f);
    evecs({z.data(), n, nvec, nvec, 1}, view, nvec);  // row-major output
    for (int j = 0; j < nvec; ++j) {
      for (int i = 0; i < n; ++i) EXPECT_EQ(z[i * nvec + j], vectors[i + j * n]);
    }
    EXPECT_EQ(z[n * nvec], 6.0f);
  }
}

TEST(Spectral, ValuesReadTheUpperTriangleVectorsTheLower) {
  const int n = 12;
  const auto upper = random_symmetric(n, 5);
  auto lower = random_symmetric(n, 6);
  for (int k = 0; k < n; ++k) lower[k + k * n] = upper[k + k * n];  // one diagonal for both
  std::vector<float> mixed(upper.size());
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < n; ++i) mixed[i + j * n] = i <= j ? upper[i + j * n] : lower[i + j * n];
  }
  EXPECT_EQ(all_values(mixed, n), all_values(upper, n));
  EXPECT_EQ(leading_vectors(mixed, n, 3), leading_vectors(lower, n, 3));
  EXPECT_NE(all_values(upper, n), all_values(lower, n));
}

TEST(Spectral, EmptyMatrix) {
  std::vector<float> w(1, 4.0f);
  evals({w.data(), 0, 1}, {nullptr, 0, 0, 1, 0});
  evecs({w.data(), 0, 0, 1, 0}, {nullptr, 0, 0, 1, 0}, 0);
  EXPECT_EQ(w[0], 4.0f);
}

// The solver library may have started threads: fork-only death tests are unsafe then.
TEST(Spectral, NvecOutsideOneToNIsTheSolversError) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const auto a = random_symmetric(5, 7);
  KVTRAJ_EXPECT_FATAL(leading_vectors(a, 5, 6), "^SSYEVR returns with info= -9\n");
  KVTRAJ_EXPECT_FATAL(leading_vectors(a, 5, 0), "^SSYEVR returns with info= -9\n");
}

TEST(Spectral, BadViewsAreFatal) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::vector<float> a(16, 1.0f);
  std::vector<float> w(4);
  KVTRAJ_EXPECT_FATAL(evals({w.data(), 4, 1}, {a.data(), 4, 3, 1, 4}), "not square");
  KVTRAJ_EXPECT_FATAL(evals({w.data(), 3, 1}, column_major(a.data(), 4, 4)), "shorter");
  KVTRAJ_EXPECT_FATAL(evecs(column_major(w.data(), 4, 1), column_major(a.data(), 4, 4), 2),
                      "smaller than N x nvec");
  // Too large for 32-bit LAPACK sizes: refused before anything is read or allocated.
  KVTRAJ_EXPECT_FATAL(evals({w.data(), 46341, 0}, {a.data(), 46341, 46341, 0, 0}),
                      "46341 exceeds 46340");
}

}  // namespace
}  // namespace kvtraj

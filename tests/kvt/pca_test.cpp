// The analysis behind kvt compress: second moments against a direct double-precision sum, the
// Gram route against the covariance route, the choice of vectors, and the iterative fit.
#include "apps/kvt/pca.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace kvtraj::app {
namespace {

// Centred random snapshots: n coordinates by f snapshots, with decreasing spread per
// direction so that the spectrum is well separated.
std::vector<float> centred_snapshots(std::int64_t n, std::int64_t f, unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<float> normal;
  std::vector<float> x(n * f);
  for (std::int64_t s = 0; s < f; ++s) {
    for (std::int64_t i = 0; i < n; ++i) x[i + s * n] = normal(rng) * (1.0f + 0.3f * (n - i));
  }
  std::vector<float> mean(n, 0.0f);
  for (std::int64_t s = 0; s < f; ++s) {
    for (std::int64_t i = 0; i < n; ++i) mean[i] += x[i + s * n] / static_cast<float>(f);
  }
  subtract_average(x, mean);
  return x;
}

double direct_moment(const std::vector<float>& x, std::int64_t n, std::int64_t f, std::int64_t a,
                     std::int64_t b, bool gram) {
  double sum = 0.0;
  if (gram) {
    for (std::int64_t i = 0; i < n; ++i) sum += double(x[i + a * n]) * x[i + b * n];
  } else {
    for (std::int64_t s = 0; s < f; ++s) sum += double(x[a + s * n]) * x[b + s * n];
  }
  return sum / static_cast<double>(f);
}

TEST(SecondMoments, MatchADirectDoubleSumAcrossPanelBoundaries) {
  // 400 and 530 cross the panel (384) and block (512) widths.
  for (const auto& [n, f] : {std::pair<std::int64_t, std::int64_t>{400, 530}, {30, 7}}) {
    const auto x = centred_snapshots(n, f, 7);
    Progress quiet(false);
    for (bool gram : {false, true}) {
      const std::int64_t k = gram ? f : n;
      const auto m = second_moments(x, n, f, gram, quiet);
      ASSERT_EQ(m.size(), static_cast<std::size_t>(k * k));
      for (std::int64_t a : {std::int64_t{0}, k / 2, k - 1}) {
        for (std::int64_t b : {std::int64_t{0}, k / 3, k - 1}) {
          const double want = direct_moment(x, n, f, a, b, gram);
          EXPECT_NEAR(m[a + b * k], want, 1e-5 * std::abs(want) + 1e-6) << a << "," << b;
          EXPECT_EQ(m[a + b * k], m[b + a * k]);
        }
      }
    }
  }
}

TEST(Spectrum, GramRouteGivesTheCovarianceEigenpairs) {
  const std::int64_t n = 60, f = 12;
  const auto x = centred_snapshots(n, f, 3);
  Progress quiet(false);
  const auto cov = second_moments(x, n, f, false, quiet);
  const auto gram = second_moments(x, n, f, true, quiet);
  EXPECT_NEAR(trace(cov, n), trace(gram, f), 1e-4 * trace(cov, n));

  const std::int32_t kept = 5;
  const auto v_cov = covariance_vectors(cov, n, kept, false, x, n);
  const auto v_gram = covariance_vectors(gram, f, kept, true, x, n);
  for (std::int32_t k = 0; k < kept; ++k) {
    double dot = 0.0, norm = 0.0;
    for (std::int64_t i = 0; i < n; ++i) {
      dot += double(v_cov[i + k * n]) * v_gram[i + k * n];
      norm += double(v_gram[i + k * n]) * v_gram[i + k * n];
    }
    EXPECT_NEAR(norm, 1.0, 1e-5);
    EXPECT_NEAR(std::abs(dot), 1.0, 1e-4) << "vector " << k + 1;
  }
  // Projections on a unit eigenvector have the eigenvalue as their mean square.
  const auto p = projections(x, n, f, v_gram, kept);
  for (std::int32_t k = 0; k < kept; ++k) {
    double square = 0.0;
    for (std::int64_t s = 0; s < f; ++s) square += double(p[s + k * f]) * p[s + k * f];
    double rayleigh = 0.0;
    for (std::int64_t i = 0; i < n; ++i) {
      for (std::int64_t j = 0; j < n; ++j) {
        rayleigh += double(v_cov[i + k * n]) * cov[i + j * n] * v_cov[j + k * n];
      }
    }
    EXPECT_NEAR(square / f, rayleigh, 1e-4 * rayleigh);
  }
}

TEST(VectorChoice, CountQualityAndRmsdRules) {
  const std::vector<float> ev = {4.0f, 3.0f, 2.0f, 1.0f};
  const double total = 10.0;
  using K = VectorChoice;
  EXPECT_EQ(choose_vectors(ev, total, 4, 1, {K::quality, 70.0}), 2);
  EXPECT_EQ(choose_vectors(ev, total, 4, 1, {K::quality, 71.0}), 3);
  EXPECT_EQ(choose_vectors(ev, total, 4, 1, {K::quality, 0.0}), 0);
  EXPECT_EQ(choose_vectors(ev, total, 3, 1, {K::quality, 100.0}), 3);  // never above the rank
  // One atom: discarded variance 10, 6, 3, 1, 0 for 0..4 vectors kept.
  EXPECT_EQ(choose_vectors(ev, total, 4, 1, {K::rmsd, 1.0}), 3);
  EXPECT_EQ(choose_vectors(ev, total, 4, 1, {K::rmsd, 0.99}), 4);
  EXPECT_EQ(choose_vectors(ev, total, 4, 4, {K::rmsd, 1.0}), 2);  // sqrt(3 / 4) <= 1
  EXPECT_DOUBLE_EQ(expected_rmsd(ev, total, 1, 6), 1.0);
  EXPECT_EQ(choose_vectors(ev, total, 4, 1, {K::count, 4.0}), 4);
  EXPECT_THROW(choose_vectors(ev, total, 3, 1, {K::count, 4.0}), AppError);
}

TEST(VectorChoice, RankIgnoresRoundingNoise) {
  EXPECT_EQ(numeric_rank(std::vector<float>{5.0f, 1.0f, 1e-4f, 1e-9f, -1e-9f}), 3);
  EXPECT_EQ(numeric_rank(std::vector<float>{0.0f, 0.0f}), 0);
  EXPECT_EQ(numeric_rank(std::vector<float>{}), 0);
}

// Rotation about z by `angle` and a shift, applied to every atom.
std::vector<float> moved(const std::vector<float>& xyz, double angle, float shift) {
  std::vector<float> out(xyz.size());
  const double c = std::cos(angle), s = std::sin(angle);
  for (std::size_t i = 0; i < xyz.size(); i += 3) {
    out[i] = static_cast<float>(c * xyz[i] - s * xyz[i + 1]) + shift;
    out[i + 1] = static_cast<float>(s * xyz[i] + c * xyz[i + 1]) - shift;
    out[i + 2] = xyz[i + 2] + 0.5f * shift;
  }
  return out;
}

TEST(IterativeFit, RigidCopiesCollapseOntoOneStructure) {
  const std::vector<float> shape = {0, 0, 0, 1.5f, 0, 0, 1.5f, 1.5f, 0, 0, 2, 1, -1, 0.5f, 2};
  const std::int32_t natoms = 5, frames = 6;
  std::vector<float> traj;
  for (int f = 0; f < frames; ++f) {
    const auto copy = moved(shape, 0.4 * f, 0.7f * f);
    traj.insert(traj.end(), copy.begin(), copy.end());
  }
  std::vector<float> average(3 * natoms);
  Progress quiet(false);
  const FitReport r = fit_iteratively(traj, natoms, frames, average, quiet);
  EXPECT_LE(r.rounds, 2);
  EXPECT_LT(r.movement, kFitTolerance);
  for (std::size_t i = 0; i < shape.size(); ++i) EXPECT_NEAR(average[i], shape[i], 1e-4f);
}

TEST(IterativeFit, StopsAfterTheRoundLimitOrWhenTheAverageSettles) {
  std::mt19937 rng(11);
  std::normal_distribution<float> noise(0.0f, 0.5f);
  const std::int32_t natoms = 20, frames = 40;
  std::vector<float> base(3 * natoms), traj;
  for (float& v : base) v = 4.0f * noise(rng);
  for (int f = 0; f < frames; ++f) {
    auto copy = moved(base, 0.1 * f, 0.2f * f);
    for (float& v : copy) v += noise(rng);
    traj.insert(traj.end(), copy.begin(), copy.end());
  }
  std::vector<float> average(3 * natoms);
  Progress quiet(false);
  const FitReport r = fit_iteratively(traj, natoms, frames, average, quiet);
  EXPECT_GE(r.rounds, 2);
  EXPECT_LE(r.rounds, kMaxFitRounds);
  EXPECT_TRUE(r.movement < kFitTolerance || r.rounds == kMaxFitRounds);
}

}  // namespace
}  // namespace kvtraj::app

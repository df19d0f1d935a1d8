// Subspace comparisons on vectors whose angles are known, and the cosine content of signals whose
// answer follows from the definition.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "analysis/analysis.hpp"

namespace kvtraj::analysis {
namespace {

constexpr std::size_t kN = 6;

// Unit vector along axis i of R^6, or cos(t) e_i + sin(t) e_j.
std::vector<float> axis(std::size_t i) {
  std::vector<float> v(kN, 0.0f);
  v[i] = 1.0f;
  return v;
}
std::vector<float> tilted(std::size_t i, std::size_t j, double t) {
  std::vector<float> v(kN, 0.0f);
  v[i] = static_cast<float>(std::cos(t));
  v[j] = static_cast<float>(std::sin(t));
  return v;
}
std::vector<float> columns(std::initializer_list<std::vector<float>> vs) {
  std::vector<float> out;
  for (const auto& v : vs) out.insert(out.end(), v.begin(), v.end());
  return out;
}

TEST(Subspace, InnerProductsOfVectorsAtKnownAngles) {
  const double t = 0.3;
  const std::vector<float> a = columns({axis(0), axis(1)});
  const std::vector<float> b = columns({axis(1), tilted(0, 2, t)});
  const std::vector<double> m = overlap_matrix(a, 2, b, 2, kN);
  EXPECT_NEAR(m[0], 0.0, 1e-7);          // a1 . b1
  EXPECT_NEAR(m[1], 1.0, 1e-7);          // a2 . b1
  EXPECT_NEAR(m[2], std::cos(t), 1e-7);  // a1 . b2
  EXPECT_NEAR(m[3], 0.0, 1e-7);          // a2 . b2
  EXPECT_NEAR(rmsip(a, 2, b, 2, kN), std::sqrt((1.0 + std::cos(t) * std::cos(t)) / 2.0), 1e-7);
  EXPECT_NEAR(rmsip(a, 1, b, 2, kN), std::cos(t), 1e-7);
  EXPECT_NEAR(rmsip(a, 2, a, 2, kN), 1.0, 1e-7);
  EXPECT_NEAR(cumulative_overlap(a, 0, b, 2, kN), std::cos(t), 1e-7);
  EXPECT_NEAR(cumulative_overlap(a, 0, b, 1, kN), 0.0, 1e-7);
  // The cumulative overlap does not depend on the vectors' lengths.
  std::vector<float> longer = b;
  for (float& x : longer) x *= 3.0f;
  EXPECT_NEAR(cumulative_overlap(a, 1, longer, 2, kN), 1.0, 1e-6);
}

TEST(Subspace, CovarianceOverlapFromEqualToOrthogonal) {
  const std::vector<float> a = columns({axis(0), axis(1)});
  const std::vector<float> values = {4.0f, 1.0f};
  EXPECT_NEAR(covariance_overlap(a, values, a, values, kN), 1.0, 1e-7);
  // The same subspace with the variances swapped is not the same covariance.
  const std::vector<float> swapped = {1.0f, 4.0f};
  const double partial = covariance_overlap(a, values, a, swapped, kN);
  EXPECT_NEAR(partial, 1.0 - std::sqrt((10.0 - 2.0 * (2.0 + 2.0)) / 10.0), 1e-7);
  const std::vector<float> other = columns({axis(2), axis(3)});
  EXPECT_NEAR(covariance_overlap(a, values, other, values, kN), 0.0, 1e-7);
  // One vector each, at angle t: 1 - sqrt((l + m - 2 sqrt(l m) cos^2 t) / (l + m)).
  const double t = 0.4;
  const std::vector<float> l = {2.0f}, mu = {0.5f};
  const double expected =
      1.0 - std::sqrt((2.5 - 2.0 * std::sqrt(1.0) * std::cos(t) * std::cos(t)) / 2.5);
  EXPECT_NEAR(covariance_overlap(axis(0), l, tilted(0, 4, t), mu, kN), expected, 1e-7);
}

TEST(CosineContent, HalfCosinesScoreOneAndOtherSignalsLess) {
  const std::int64_t frames = 1001;
  std::vector<float> p(frames), zero(frames, 0.0f);
  for (std::int32_t k : {1, 2, 5}) {
    for (std::int64_t t = 0; t < frames; ++t) {
      p[t] = static_cast<float>(std::cos(std::numbers::pi * k * t / frames));
    }
    EXPECT_NEAR(cosine_content(p, k), 1.0, 5e-3) << k;
    EXPECT_LT(cosine_content(p, k + 1), 1e-2) << k;
  }
  EXPECT_EQ(cosine_content(zero, 1), 0.0);
  // Three frames, by hand: cos(pi t / 3) = 1, 1/2, -1/2 and Simpson's (y0 + 4 y1 + y2) / 3.
  const std::vector<float> three = {1.0f, 2.0f, 3.0f};
  const double along = (1.0 + 4.0 * 1.0 - 1.5) / 3.0, norm = (1.0 + 16.0 + 9.0) / 3.0;
  EXPECT_NEAR(cosine_content(three, 1), 2.0 / 3.0 * along * along / norm, 1e-7);
  // Scaling the projections changes nothing.
  std::vector<float> scaled = p;
  for (float& x : scaled) x *= -7.5f;
  EXPECT_NEAR(cosine_content(scaled, 5), cosine_content(p, 5), 1e-9);
}

}  // namespace
}  // namespace kvtraj::analysis

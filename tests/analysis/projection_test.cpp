// Projections of frames onto a stored PCA: the file's own frames give its stored projections,
// rigid motions of the frames change nothing, and frames of other atoms are refused.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>

#include "analysis/analysis.hpp"
#include "analysis/stored_pca.hpp"

namespace kvtraj::analysis {
namespace {

using pca::testing::MemoryReader;

constexpr std::int32_t kAtoms = 30;
constexpr std::int64_t kFrames = 240;

kvtfile compressed(const std::vector<float>& frames, const kvtraj::testing::TempDir& dir) {
  return testing::compressed(frames, kAtoms, 6, dir);
}

// Every frame turned by its own rotation about a random axis and moved.
std::vector<float> moved_rigidly(std::vector<float> frames) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  const std::size_t n = 3 * kAtoms;
  for (std::size_t f = 0; f < frames.size() / n; ++f) {
    double ax = u(rng), ay = u(rng), az = u(rng);
    const double norm = std::sqrt(ax * ax + ay * ay + az * az);
    ax /= norm, ay /= norm, az /= norm;
    const double t = 3.0 * u(rng), c = std::cos(t), s = std::sin(t), d = 1.0 - c;
    const double r[9] = {c + ax * ax * d,      ax * ay * d - az * s, ax * az * d + ay * s,
                         ay * ax * d + az * s, c + ay * ay * d,      ay * az * d - ax * s,
                         az * ax * d - ay * s, az * ay * d + ax * s, c + az * az * d};
    const double shift[3] = {20.0 * u(rng), 20.0 * u(rng), 20.0 * u(rng)};
    for (std::size_t a = 0; a < kAtoms; ++a) {
      float* x = frames.data() + f * n + 3 * a;
      const double p[3] = {x[0], x[1], x[2]};
      for (int i = 0; i < 3; ++i) {
        x[i] = static_cast<float>(r[3 * i] * p[0] + r[3 * i + 1] * p[1] + r[3 * i + 2] * p[2] +
                                  shift[i]);
      }
    }
  }
  return frames;
}

double spread(std::span<const float> v) {
  double s = 0.0;
  for (float x : v) s += double{x} * x;
  return std::sqrt(s / static_cast<double>(v.size()));
}

TEST(Projection, OwnFramesGiveTheStoredProjectionsWhateverTheirPlaceOrThreads) {
  kvtraj::testing::TempDir dir;
  const std::vector<float> frames = pca::testing::known_spectrum(kAtoms, kFrames, 8, 0.05f, 3);
  const kvtfile kvtf = compressed(frames, dir);
  ASSERT_EQ(kvtf.status, 0);
  MemoryReader same(frames, kAtoms), moved(moved_rigidly(frames), kAtoms);
  const Projections one = project(same, kvtf, {2, 5}, 1);
  const Projections two = project(moved, kvtf, {2, 5}, 2);
  ASSERT_EQ(one.frames, kFrames);
  ASSERT_EQ(one.values.size(), static_cast<std::size_t>(kFrames * 4));
  for (std::int32_t k = 0; k < 4; ++k) {
    const auto stored = std::span(kvtf.proj).subspan((k + 1) * kFrames, kFrames);
    const double tolerance = 1e-4 * spread(stored);
    for (std::int64_t i = 0; i < kFrames; ++i) {
      EXPECT_NEAR(one.values[i + k * kFrames], stored[i], tolerance) << "vector " << k + 2;
      EXPECT_NEAR(two.values[i + k * kFrames], stored[i], 10 * tolerance) << "vector " << k + 2;
    }
  }
  // Without the fit, rigid motions show.
  MemoryReader moved_again(moved_rigidly(frames), kAtoms);
  const Projections unfitted = project(moved_again, kvtf, {1, 1}, 1, false);
  EXPECT_GT(std::abs(unfitted.values[0] - kvtf.proj[0]), 0.1 * spread(kvtf.proj));
}

TEST(Projection, OtherAtomsAndVectorsOutsideTheFileAreFatal) {
  kvtraj::testing::TempDir dir;
  const kvtfile kvtf = compressed(pca::testing::known_spectrum(kAtoms, kFrames, 8, 0.05f, 4), dir);
  MemoryReader fewer(pca::testing::known_spectrum(kAtoms - 1, 10, 3, 0.05f, 5), kAtoms - 1);
  KVTRAJ_EXPECT_FATAL(project(fewer, kvtf, {1, 2}, 1), "29 atoms, but .*run.kvt holds 30");
  MemoryReader same(pca::testing::known_spectrum(kAtoms, 10, 3, 0.05f, 6), kAtoms);
  KVTRAJ_EXPECT_FATAL(project(same, kvtf, {3, 7}, 1), "vectors 3:7 are outside the file's 1..6");
  KVTRAJ_EXPECT_FATAL(project(same, kvtf, {0, 2}, 1), "vectors 0:2 are outside");
}

TEST(Projection, AtomNamesAreComparedWhenBothSidesHaveThem) {
  const std::vector<AtomRecord> a = {{1, "N", 1, "ALA", "A"}, {2, "CA", 1, "ALA", "A"}};
  std::vector<AtomRecord> b = a;
  check_atom_names(a, b, "x", "y");
  check_atom_names(a, {}, "x", "y");
  b[1].name = "CB";
  KVTRAJ_EXPECT_FATAL(check_atom_names(a, b, "x", "y"), "x and y differ at atom 2: CA and CB");
  KVTRAJ_EXPECT_FATAL(check_atom_names(a, std::span(a).first(1), "x", "y"),
                      "x and y have 2 and 1 atoms");
}

}  // namespace
}  // namespace kvtraj::analysis

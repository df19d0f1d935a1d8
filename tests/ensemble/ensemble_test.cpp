// trajavg and trajfit on trajectories made of known rigid motions of one structure.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "ensemble/ensemble.hpp"
#include "superpose/superpose.hpp"
#include "tests/superpose/reference_fit.hpp"
#include "tests/testsupport/testsupport.hpp"

namespace kvtraj {
namespace {

constexpr int kAtoms = 50;

// `frames` snapshots, each a different rotation and shift of `structure`.
std::vector<float> rigid_trajectory(const std::vector<float>& structure, int frames) {
  std::vector<float> traj;
  for (int f = 0; f < frames; ++f) {
    const auto rot = testing::rotation({1.0 + f, 2.0 - f, 0.5}, 0.4 * f + 0.1);
    const auto snap = testing::moved(structure, rot, {f * 1.5, -2.0 * f, 7.0});
    traj.insert(traj.end(), snap.begin(), snap.end());
  }
  return traj;
}

std::span<const float> frame(const std::vector<float>& traj, int f) {
  return std::span<const float>(traj).subspan(3 * kAtoms * f, 3 * kAtoms);
}

TEST(Trajavg, IsTheMeanOfTheSnapshots) {
  std::mt19937 rng(1);
  const auto traj = testing::random_set(rng, kAtoms * 6, 3.0);
  std::vector<float> avg(3 * kAtoms, 99.0f);
  trajavg(traj, avg, kAtoms, 6);
  for (int k = 0; k < 3 * kAtoms; ++k) {
    double mean = 0.0;
    for (int f = 0; f < 6; ++f) mean += traj[3 * kAtoms * f + k];
    EXPECT_NEAR(avg[k], mean / 6.0, 1e-5) << k;
  }
}

TEST(Trajavg, OneSnapshotIsItsOwnAverage) {
  std::mt19937 rng(2);
  const auto traj = testing::random_set(rng, kAtoms, 3.0);
  std::vector<float> avg(3 * kAtoms);
  trajavg(traj, avg, kAtoms, 1);
  EXPECT_EQ(avg, traj);
}

TEST(Trajavg, NoFramesLeaveTheAverageAtZero) {
  const std::vector<float> traj(3 * kAtoms, 5.0f);
  for (int frames : {0, -3}) {
    std::vector<float> avg(3 * kAtoms, 99.0f);
    trajavg(traj, avg, kAtoms, frames);
    EXPECT_EQ(avg, std::vector<float>(3 * kAtoms, 0.0f));
  }
}

TEST(Trajfit, RigidMotionsFitBackOntoTheStructure) {
  std::mt19937 rng(3);
  const auto structure = testing::random_set(rng, kAtoms, 5.0, 2.0);
  auto traj = rigid_trajectory(structure, 8);
  trajfit(traj, structure, kAtoms, 8);
  for (int f = 0; f < 8; ++f) {
    const auto snap = frame(traj, f);
    for (int k = 0; k < 3 * kAtoms; ++k) ASSERT_NEAR(snap[k], structure[k], 2e-4) << f << " " << k;
  }
  std::vector<float> avg(3 * kAtoms);
  trajavg(traj, avg, kAtoms, 8);
  for (int k = 0; k < 3 * kAtoms; ++k) EXPECT_NEAR(avg[k], structure[k], 2e-4);
}

TEST(Trajfit, EachSnapshotGetsItsOwnSuperposition) {
  std::mt19937 rng(4);
  const auto ref = testing::random_set(rng, kAtoms, 4.0);
  auto traj = testing::random_set(rng, kAtoms * 5, 4.0, 3.0);
  const auto before = traj;
  trajfit(traj, ref, kAtoms, 5);
  for (int f = 0; f < 5; ++f) {
    Matrix3f rot{};
    Vector3f trans{};
    float rms = 0.0f;
    FitReference(kAtoms, ref).fit(frame(before, f), rot, trans, rms, 1);
    for (int a = 0; a < kAtoms; ++a) {
      const float* x = &before[3 * kAtoms * f + 3 * a];
      for (int i = 0; i < 3; ++i) {
        const float expected = ((rot[i] * x[0] + rot[i + 3] * x[1]) + rot[i + 6] * x[2]) + trans[i];
        EXPECT_EQ(traj[3 * kAtoms * f + 3 * a + i], expected);
      }
    }
    EXPECT_NEAR(testing::rms_distance(frame(traj, f), ref), rms, 1e-4);
  }
}

TEST(Trajfit, EqualWeightsFitLikeNoWeights) {
  std::mt19937 rng(5);
  const auto ref = testing::random_set(rng, kAtoms, 4.0);
  auto plain = testing::random_set(rng, kAtoms * 4, 4.0, -2.0);
  auto weighted = plain;
  trajfit(plain, ref, kAtoms, 4);
  const std::vector<float> weights(kAtoms, 2.5f);
  trajfit(weighted, ref, kAtoms, 4, 0, weights);
  for (std::size_t k = 0; k < plain.size(); ++k) EXPECT_NEAR(weighted[k], plain[k], 1e-4);
}

TEST(Trajfit, WeightsSelectTheAtomsThatCount) {
  std::mt19937 rng(6);
  const auto structure = testing::random_set(rng, kAtoms, 4.0);
  auto traj = rigid_trajectory(structure, 3);
  std::vector<float> weights(kAtoms, 1.0f);
  for (int f = 0; f < 3; ++f) traj[3 * kAtoms * f + 3 * 10] += 40.0f;  // atom 11 wanders off
  weights[10] = 0.0f;
  trajfit(traj, structure, kAtoms, 3, 0, weights);
  for (int f = 0; f < 3; ++f) {
    EXPECT_NEAR(testing::rms_distance(frame(traj, f), structure, weights), 0.0, 2e-4) << f;
  }
}

TEST(Trajfit, NoFramesDoNothing) {
  std::vector<float> traj(3 * kAtoms, 1.0f);
  const std::vector<float> ref(3 * kAtoms, 2.0f);
  trajfit(traj, ref, kAtoms, 0);
  trajfit(traj, ref, kAtoms, -1);
  EXPECT_EQ(traj, std::vector<float>(3 * kAtoms, 1.0f));
}

TEST(Ensemble, ShortArraysAreFatal) {
  std::vector<float> traj(3 * kAtoms * 2);
  std::vector<float> avg(3 * kAtoms);
  KVTRAJ_EXPECT_FATAL(trajavg(traj, avg, kAtoms, 3), "fewer than 3 x natoms x nframes");
  KVTRAJ_EXPECT_FATAL(trajfit(traj, std::span<const float>(avg).first(9), kAtoms, 2),
                      "fewer than 3 x natoms values");
  // A frame count whose product with the snapshot size overflows is caught, not wrapped.
  KVTRAJ_EXPECT_FATAL(trajfit(traj, avg, kAtoms, 2147483647), "fewer than 3 x natoms x nframes");
}

TEST(Trajfit, TwoThreadsFitAtOnceAsOneThreadDoes) {
  constexpr int kFrames = 20000;  // long enough for the two fits to overlap
  std::mt19937 rng(5);
  const auto structure = testing::random_set(rng, kAtoms, 4.0);
  auto noisy = rigid_trajectory(structure, kFrames);
  for (float& x : noisy) x += std::uniform_real_distribution<float>(-0.3f, 0.3f)(rng);
  const std::vector<float> other_ref(noisy.begin() + 3 * kAtoms, noisy.begin() + 6 * kAtoms);

  auto alone_a = noisy, alone_b = noisy;
  trajfit(alone_a, structure, kAtoms, kFrames);
  trajfit(alone_b, other_ref, kAtoms, kFrames, 0, std::vector<float>(kAtoms, 0.5f));

  auto together_a = noisy, together_b = noisy;
  std::thread a([&] { trajfit(together_a, structure, kAtoms, kFrames); });
  std::thread b([&] {
    trajfit(together_b, other_ref, kAtoms, kFrames, 0, std::vector<float>(kAtoms, 0.5f));
  });
  a.join();
  b.join();
  EXPECT_EQ(0, std::memcmp(together_a.data(), alone_a.data(), alone_a.size() * sizeof(float)));
  EXPECT_EQ(0, std::memcmp(together_b.data(), alone_b.data(), alone_b.size() * sizeof(float)));
}

}  // namespace
}  // namespace kvtraj

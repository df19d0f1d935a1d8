// superpose / superposew against the test's quaternion fit in double precision.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "reference_fit.hpp"
#include "superpose/superpose.hpp"
#include "tests/testsupport/testsupport.hpp"

namespace kvtraj {
namespace {

using testing::reference_fit;

struct Fit {
  Matrix3f rot{};
  Vector3f trans{};
  float rms = -1.0f;
};

Fit fit(const std::vector<float>& ref, const std::vector<float>& mov, std::int32_t mode = 1) {
  Fit f;
  superpose(static_cast<std::int32_t>(ref.size() / 3), ref, mov, f.rot, f.trans, f.rms, mode);
  return f;
}

Fit fitw(const std::vector<float>& ref, const std::vector<float>& mov, const std::vector<float>& w,
         std::int32_t mode = 1) {
  Fit f;
  superposew(static_cast<std::int32_t>(ref.size() / 3), ref, mov, f.rot, f.trans, f.rms, mode, w);
  return f;
}

std::vector<float> applied(const Fit& f, const std::vector<float>& mov) {
  std::array<double, 9> rot;
  std::array<double, 3> trans;
  for (int k = 0; k < 9; ++k) rot[k] = f.rot[k];
  for (int k = 0; k < 3; ++k) trans[k] = f.trans[k];
  return testing::moved(mov, rot, trans);
}

void expect_matches_reference(const Fit& f, const testing::ReferenceFit& r, double tol) {
  for (int k = 0; k < 9; ++k) EXPECT_NEAR(f.rot[k], r.rot[k], tol) << "rot " << k;
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(f.trans[k], r.trans[k], 10 * tol) << "trans " << k;
  EXPECT_NEAR(f.rms, r.rms, tol * (1.0 + r.rms));
}

void expect_identity(const Matrix3f& rot) {
  EXPECT_EQ(rot, (Matrix3f{1, 0, 0, 0, 1, 0, 0, 0, 1}));
}

TEST(ReferenceFit, RecoversAKnownMotion) {
  std::mt19937 rng(1);
  const auto ref = testing::random_set(rng, 40, 5.0);
  const auto rot = testing::rotation({1, 2, 3}, 1.1);
  const auto mov = testing::moved(ref, rot, {4, -5, 6});
  // The test's own fit must undo the motion, or nothing below means anything.
  const auto r = reference_fit(ref, mov);
  EXPECT_LT(r.rms, 1e-5);
  EXPECT_NEAR(testing::rms_distance(testing::moved(mov, r.rot, r.trans), ref), 0.0, 1e-5);
}

TEST(Superpose, UndoesARigidMotion) {
  std::mt19937 rng(2);
  for (int trial = 0; trial < 20; ++trial) {
    const auto ref = testing::random_set(rng, 100, 6.0, 3.0);
    const auto motion = testing::rotation({rng() % 7 + 1.0, -2.0, rng() % 5 - 2.0}, 0.3 * trial);
    const auto mov = testing::moved(ref, motion, {10.0, -3.0, 0.5 * trial});
    const Fit f = fit(ref, mov);
    EXPECT_LT(f.rms, 2e-3);
    EXPECT_LT(testing::rms_distance(applied(f, mov), ref), 1e-4);
    // rot undoes the motion: rot = motion^T.
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j) EXPECT_NEAR(f.rot[i + 3 * j], motion[j + 3 * i], 1e-5);
    }
  }
}

TEST(Superpose, MatchesTheReferenceOnNoisyPairs) {
  std::mt19937 rng(3);
  for (int trial = 0; trial < 30; ++trial) {
    const int n = 3 + trial * 7;
    const auto ref = testing::random_set(rng, n, 4.0, 1.0);
    auto mov = testing::moved(ref, testing::rotation({1, -1, trial + 0.5}, 2.0), {1, 2, 3});
    const auto noise = testing::random_set(rng, n, 0.8);
    for (std::size_t k = 0; k < mov.size(); ++k) mov[k] += noise[k];
    const Fit f = fit(ref, mov);
    expect_matches_reference(f, reference_fit(ref, mov), 2e-4);
    EXPECT_NEAR(testing::rms_distance(applied(f, mov), ref), f.rms, 1e-4 * (1 + f.rms));
  }
}

TEST(Superpose, MirrorImageGetsAProperRotation) {
  std::mt19937 rng(4);
  const auto ref = testing::random_set(rng, 50, 5.0);
  std::vector<float> mov = ref;
  for (std::size_t k = 0; k < mov.size(); k += 3) mov[k] = -mov[k];
  const Fit f = fit(ref, mov);
  EXPECT_NEAR(testing::determinant(f.rot), 1.0, 1e-6);
  EXPECT_LT(testing::orthogonality_error(f.rot), 1e-6);
  EXPECT_GT(f.rms, 0.5);
  expect_matches_reference(f, reference_fit(ref, mov), 2e-4);
}

TEST(Superpose, RmsOnlyModeAgreesAndLeavesTransformAlone) {
  std::mt19937 rng(5);
  for (int trial = 0; trial < 20; ++trial) {
    const auto ref = testing::random_set(rng, 60, 3.0);
    auto mov = testing::random_set(rng, 60, 3.0, 2.0);
    if (trial % 2) {  // half of them mirror-like
      for (std::size_t k = 0; k < mov.size(); k += 3) mov[k] = -ref[k] + 0.3f * mov[k];
    }
    const Fit full = fit(ref, mov, 1);
    Fit quick;
    quick.rot.fill(9.0f);
    quick.trans.fill(-9.0f);
    superpose(60, ref, mov, quick.rot, quick.trans, quick.rms, 0);
    EXPECT_NEAR(quick.rms, full.rms, 1e-5 * (1 + full.rms));
    for (float v : quick.rot) EXPECT_EQ(v, 9.0f);
    for (float v : quick.trans) EXPECT_EQ(v, -9.0f);
  }
}

TEST(Superposew, UnitWeightsComputeWhatSuperposeComputes) {
  std::mt19937 rng(6);
  const auto ref = testing::random_set(rng, 77, 5.0, 2.0);
  const auto mov = testing::random_set(rng, 77, 5.0, -1.0);
  const Fit a = fit(ref, mov);
  const Fit b = fitw(ref, mov, std::vector<float>(77, 1.0f));
  EXPECT_EQ(a.rot, b.rot);
  EXPECT_EQ(a.trans, b.trans);
  EXPECT_EQ(a.rms, b.rms);
}

TEST(Superposew, MatchesTheWeightedReference) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> uniform(0.1f, 12.0f);
  for (int trial = 0; trial < 20; ++trial) {
    const auto ref = testing::random_set(rng, 40, 4.0);
    auto mov = testing::moved(ref, testing::rotation({0, 1, 1}, 0.7 + trial), {2, 2, 2});
    const auto noise = testing::random_set(rng, 40, 1.0);
    for (std::size_t k = 0; k < mov.size(); ++k) mov[k] += noise[k];
    std::vector<float> w(40);
    for (float& v : w) v = uniform(rng);
    const Fit f = fitw(ref, mov, w);
    expect_matches_reference(f, reference_fit(ref, mov, w), 2e-4);
    EXPECT_NEAR(testing::rms_distance(applied(f, mov), ref, w), f.rms, 1e-4 * (1 + f.rms));
  }
}

TEST(Superposew, ZeroWeightRemovesTheAtom) {
  std::mt19937 rng(8);
  const auto ref = testing::random_set(rng, 30, 4.0);
  auto mov = testing::moved(ref, testing::rotation({3, 1, 0}, 0.9), {-1, 0, 5});
  std::vector<float> w(30, 1.0f);
  for (int k : {0, 7, 29}) {  // wild atoms that must not count
    w[k] = 0.0f;
    mov[3 * k] += 50.0f;
    mov[3 * k + 2] -= 80.0f;
  }
  const Fit f = fitw(ref, mov, w);
  EXPECT_LT(f.rms, 2e-3);
  EXPECT_LT(testing::rms_distance(applied(f, mov), ref, w), 1e-4);
  expect_matches_reference(f, reference_fit(ref, mov, w), 2e-4);
}

TEST(Superpose, NoAtomsOrNoWeightGiveZeroAndTheIdentity) {
  const std::vector<float> set = {1, 2, 3, 4, 5, 6};
  Fit f;
  f.trans.fill(5.0f);
  superpose(0, set, set, f.rot, f.trans, f.rms, 1);
  expect_identity(f.rot);
  EXPECT_EQ(f.trans, (Vector3f{0, 0, 0}));
  EXPECT_EQ(f.rms, 0.0f);
  Fit g;
  g.trans.fill(5.0f);
  const std::vector<float> other = {6, 5, 4, 3, 2, 1};
  const std::vector<float> zero(2, 0.0f);
  superposew(2, set, other, g.rot, g.trans, g.rms, 1, zero);
  expect_identity(g.rot);
  EXPECT_EQ(g.trans, (Vector3f{0, 0, 0}));
  EXPECT_EQ(g.rms, 0.0f);
}

TEST(Superpose, DegenerateSetsGiveFiniteCorrectFits) {
  // One atom: the translation carries it onto the reference atom.
  Fit one = fit({1.5f, -2.0f, 30.0f}, {-4.0f, 8.25f, 1.0f});
  expect_identity(one.rot);
  EXPECT_EQ(one.rms, 0.0f);
  EXPECT_NEAR(one.trans[0], 5.5f, 1e-5f);
  EXPECT_NEAR(one.trans[1], -10.25f, 1e-5f);
  EXPECT_NEAR(one.trans[2], 29.0f, 1e-5f);
  // All moving atoms at one point: rms is the spread of the reference about its centre.
  std::mt19937 rng(9);
  const auto ref = testing::random_set(rng, 25, 2.0, 10.0);
  std::vector<float> point(ref.size());
  for (std::size_t k = 0; k < point.size(); ++k) point[k] = static_cast<float>(k % 3) + 7.0f;
  const Fit p = fit(ref, point);
  expect_identity(p.rot);
  EXPECT_NEAR(p.rms, reference_fit(ref, point).rms, 1e-4);
  // Collinear atoms, rotated and shifted: still undone exactly, with a proper rotation.
  std::vector<float> line;
  for (int k = 0; k < 12; ++k) {
    for (float c : {1.0f, -2.0f, 0.5f}) line.push_back(c * (k - 4.0f));
  }
  const auto mov = testing::moved(line, testing::rotation({1, 1, 0}, 0.8), {3, 1, -2});
  for (int mode : {1, 0}) {
    const Fit l = fit(line, mov, mode);
    EXPECT_TRUE(std::isfinite(l.rms));
    EXPECT_LT(l.rms, 2e-3);
    if (mode == 0) continue;
    EXPECT_LT(testing::orthogonality_error(l.rot), 1e-6);
    EXPECT_NEAR(testing::determinant(l.rot), 1.0, 1e-6);
    EXPECT_LT(testing::rms_distance(applied(l, mov), line), 1e-4);
  }
}

TEST(Superpose, ShortCoordinateSetsAreFatal) {
  const std::vector<float> set(9, 1.0f);
  Fit f;
  KVTRAJ_EXPECT_FATAL(superpose(4, set, set, f.rot, f.trans, f.rms, 1), "fewer than 3 x n values");
  const std::vector<float> two(2, 1.0f);
  KVTRAJ_EXPECT_FATAL(superposew(3, set, set, f.rot, f.trans, f.rms, 1, two),
                      "fewer weights than atoms");
}

TEST(FitReference, MatchesTheReferenceForEveryAtomCountAndPlace) {
  // Counts around the groups of four, sets far from the origin and spread over a box: the
  // prepared reference's transforms are as close to the double-precision fit as superpose's,
  // or closer (superpose forms uncentred products, which lose digits far from the origin). The
  // RMS deviation comes from a difference of sums of squares, for both, so its square is good
  // to single-precision rounding of those sums.
  std::mt19937 rng(9);
  for (int n : {3, 4, 5, 7, 33, 1001}) {
    for (double centre : {0.0, 950.0}) {
      for (double spread : {6.0, 60.0}) {
        const auto ref = testing::random_set(rng, n, spread, centre);
        auto mov = testing::moved(ref, testing::rotation({1, -2, 3}, 0.4 + n), {7, -3, 40});
        const auto noise = testing::random_set(rng, n, 0.5);
        for (std::size_t k = 0; k < mov.size(); ++k) mov[k] += noise[k];
        const auto want = reference_fit(ref, mov);
        const Fit old = fit(ref, mov);
        Fit got;
        const FitReference prepared(n, ref);
        prepared.fit(mov, got.rot, got.trans, got.rms, 1);
        double worst_got = 0.0, worst_old = 0.0;
        for (int k = 0; k < 9; ++k) {
          worst_got = std::max(worst_got, std::fabs(got.rot[k] - want.rot[k]));
          worst_old = std::max(worst_old, std::fabs(old.rot[k] - want.rot[k]));
        }
        const std::string at = std::to_string(n) + " atoms about " + std::to_string(centre);
        EXPECT_LE(worst_got, std::max(2e-6, worst_old)) << at;
        for (int k = 0; k < 3; ++k) {
          EXPECT_NEAR(got.trans[k], want.trans[k], 1e-6 * (centre + 100)) << at;
        }
        EXPECT_NEAR(got.rms * got.rms, want.rms * want.rms, 3e-6 * spread * spread) << at;
        Fit quick;
        quick.rot.fill(9.0f);
        prepared.fit(mov, quick.rot, quick.trans, quick.rms, 0);
        EXPECT_TRUE(std::isfinite(quick.rms));
        for (float v : quick.rot) EXPECT_EQ(v, 9.0f);
      }
    }
  }
  Fit empty;
  FitReference(0, {}).fit({}, empty.rot, empty.trans, empty.rms, 1);
  expect_identity(empty.rot);
  EXPECT_EQ(empty.rms, 0.0f);
  const std::vector<float> set(9, 1.0f);
  KVTRAJ_EXPECT_FATAL(FitReference(4, set), "fewer than 3 x n values");
  KVTRAJ_EXPECT_FATAL(
      FitReference(3, set).fit(std::span(set).first(6), empty.rot, empty.trans, empty.rms, 1),
      "fewer than 3 x n values");
}

}  // namespace
}  // namespace kvtraj

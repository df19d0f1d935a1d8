// Periodic images on made-up systems: the shortest image against an exhaustive search, the
// cells that are refused, the placing order of molecules, whole molecules rebuilt from atoms
// wrapped one by one, gathering, the split test, and atoms kept from jumping.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "tests/testsupport/testsupport.hpp"
#include "topology/periodic.hpp"

namespace kvtraj {
namespace {

using Vec = std::array<double, 3>;

double dot(const Vec& u, const Vec& v) {
  return u[0] * v[0] + u[1] * v[1] + u[2] * v[2];
}

Vec cross(const Vec& u, const Vec& v) {
  return {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
}

Vec row(const PeriodicBox& box, int i) {
  const auto& m = box.vectors();
  return {m[3 * i], m[3 * i + 1], m[3 * i + 2]};
}

Vec combine(const PeriodicBox& box, double x, double y, double z) {
  const Vec a = row(box, 0), b = row(box, 1), c = row(box, 2);
  return {x * a[0] + y * b[0] + z * c[0], x * a[1] + y * b[1] + z * c[1],
          x * a[2] + y * b[2] + z * c[2]};
}

// min |d - n·box| over every integer n that could beat d itself: the lattice vector then is at
// most 2|d| long, so |n_k| <= 2|d| / (distance between the lattice planes across vector k).
// Far more than the 125 nearest images in skewed cells; independent of the reduced basis.
double brute_force_min_sq(const PeriodicBox& box, const Vec& d) {
  const Vec a = row(box, 0), b = row(box, 1), c = row(box, 2);
  const double volume = std::fabs(dot(a, cross(b, c)));
  const Vec reach{2.0 * std::sqrt(dot(d, d)) * std::sqrt(dot(cross(b, c), cross(b, c))) / volume,
                  2.0 * std::sqrt(dot(d, d)) * std::sqrt(dot(cross(c, a), cross(c, a))) / volume,
                  2.0 * std::sqrt(dot(d, d)) * std::sqrt(dot(cross(a, b), cross(a, b))) / volume};
  double best = dot(d, d);
  for (double i = -std::ceil(reach[0]); i <= std::ceil(reach[0]); ++i) {
    for (double j = -std::ceil(reach[1]); j <= std::ceil(reach[1]); ++j) {
      for (double k = -std::ceil(reach[2]); k <= std::ceil(reach[2]); ++k) {
        const Vec v = combine(box, i, j, k);
        const Vec r{d[0] - v[0], d[1] - v[1], d[2] - v[2]};
        best = std::min(best, dot(r, r));
      }
    }
  }
  return best;
}

// The residual of plain rounding of the fractional coordinates in the box's own vectors.
double rounded_sq(const PeriodicBox& box, const Vec& d) {
  const Vec s = box.fractional(d);
  const Vec v = combine(box, std::round(s[0]), std::round(s[1]), std::round(s[2]));
  const Vec r{d[0] - v[0], d[1] - v[1], d[2] - v[2]};
  return dot(r, r);
}

// GROMACS's shapes (gmx editconf -bt) and skewed cells drawn at random.
std::vector<UnitCell> test_cells() {
  std::vector<UnitCell> cells{
      {41.65f, 41.65f, 41.65f, 60.0f, 60.0f, 90.0f},            // dodecahedron, xy-square
      {41.65f, 41.65f, 41.65f, 60.0f, 60.0f, 60.0f},            // dodecahedron, xy-hexagon
      {35.65f, 35.65f, 35.65f, 70.5288f, 109.4712f, 70.5288f},  // truncated octahedron
      {20.0f, 60.0f, 35.0f, 80.0f, 85.0f, 20.0f},               // b almost along a
      {30.0f, 30.0f, 90.0f, 88.0f, 25.0f, 90.0f},               // c leaning far over a
      {12.0f, 14.0f, 300.0f, 90.0f, 80.0f, 95.0f},              // a needle
  };
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> length(15.0f, 70.0f), angle(25.0f, 155.0f);
  while (cells.size() < 16) {
    const UnitCell cell{length(rng), length(rng), length(rng), angle(rng), angle(rng), angle(rng)};
    if (PeriodicBox(cell).valid()) cells.push_back(cell);
  }
  return cells;
}

TEST(PeriodicBox, ShortestImageIsTheTrueMinimumInSkewedCells) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> fraction(-1.2, 1.2);
  int rounding_wrong = 0;
  for (const UnitCell& cell : test_cells()) {
    const PeriodicBox box(cell);
    ASSERT_TRUE(box.valid());
    for (int trial = 0; trial < 150; ++trial) {
      const Vec d = combine(box, fraction(rng), fraction(rng), fraction(rng));
      const Vec r = box.shortest(d);
      const double want = brute_force_min_sq(box, d);
      EXPECT_NEAR(dot(r, r), want, 1e-9 * dot(d, d)) << "cell " << cell.a << " " << cell.gamma;
      // What was taken off is a lattice vector, and image_shift names it.
      const Vec shift = box.image_shift(d);
      const Vec n = box.fractional(shift);
      for (int k = 0; k < 3; ++k) {
        EXPECT_NEAR(n[k], std::round(n[k]), 1e-9);
        EXPECT_NEAR(shift[k] + r[k], d[k], 1e-9 * std::sqrt(dot(d, d)));
      }
      rounding_wrong += rounded_sq(box, d) > want * (1 + 1e-9) + 1e-9;
    }
  }
  // The cells are hard ones: rounding in the box's own vectors often misses the nearest image.
  EXPECT_GT(rounding_wrong, 200);
}

TEST(PeriodicBox, RefusesCellsThatAreNoCells) {
  const float nan = std::nanf("");
  const float inf = INFINITY;
  for (const UnitCell& bad : {
           UnitCell{0.0f, 30.0f, 30.0f}, UnitCell{-30.0f, 30.0f, 30.0f},
           UnitCell{30.0f, nan, 30.0f}, UnitCell{30.0f, 30.0f, inf},
           UnitCell{30.0f, 30.0f, 30.0f, nan, 90.0f, 90.0f},
           UnitCell{30.0f, 30.0f, 30.0f, 90.0f, 90.0f, 0.0f},      // b along a
           UnitCell{30.0f, 30.0f, 30.0f, 90.0f, 90.0f, 180.0f},    // b against a
           UnitCell{30.0f, 30.0f, 30.0f, 120.0f, 120.0f, 120.0f},  // a + b + c = 0: flat
           UnitCell{30.0f, 30.0f, 30.0f, 30.0f, 30.0f, 90.0f},     // no room for c
       }) {
    EXPECT_FALSE(PeriodicBox(bad).valid()) << bad.a << " " << bad.b << " " << bad.c << " "
                                           << bad.alpha << " " << bad.beta << " " << bad.gamma;
  }
  const PeriodicBox flat(UnitCell{30.0f, 30.0f, 30.0f, 90.0f, 90.0f, 0.0f});
  EXPECT_EQ(flat.image_shift({40.0, 0.0, 0.0}), (Vec{0.0, 0.0, 0.0}));  // no images

  const PeriodicBox cube(UnitCell{30.0f, 30.0f, 30.0f});
  ASSERT_TRUE(cube.valid());
  // Positions beyond what doubles can place in the box still give an answer, at once.
  EXPECT_TRUE(std::isfinite(cube.shortest({1e30, -3e29, 7.0})[0]));
  EXPECT_TRUE(std::isnan(cube.shortest({nan, 0.0, 0.0})[0]));
  const Vec s = cube.fractional({15.0, -45.0, 30.0});
  EXPECT_DOUBLE_EQ(s[0], 0.5);
  EXPECT_DOUBLE_EQ(s[1], -1.5);
  EXPECT_DOUBLE_EQ(s[2], 1.0);
}

TEST(Molecules, ComponentsHoldingTheAtomsInBreadthFirstOrder) {
  // 0-3-1 and 3-5 (one molecule from atom 0), 2-4 (another), 6 alone, 7-8 not wanted.
  const std::vector<Bond> bonds{{3, 5}, {1, 3}, {0, 3}, {2, 4}, {7, 8}};
  const std::vector<std::int32_t> wanted{5, 4, 6};
  const Molecules mol(9, bonds, wanted);
  ASSERT_EQ(mol.count(), 3);
  EXPECT_EQ(mol.natoms(), 9);
  using ::testing::ElementsAre;
  EXPECT_THAT(mol.atoms(0), ElementsAre(0, 3, 1, 5));
  EXPECT_THAT(mol.anchors(0), ElementsAre(0, 3, 3));
  EXPECT_THAT(mol.atoms(1), ElementsAre(2, 4));
  EXPECT_THAT(mol.anchors(1), ElementsAre(2));
  EXPECT_THAT(mol.atoms(2), ElementsAre(6));
  EXPECT_TRUE(mol.anchors(2).empty());

  KVTRAJ_EXPECT_FATAL(Molecules(4, std::vector<Bond>{{0, 4}}, wanted), "bond 1-5 .* 1..4");
  KVTRAJ_EXPECT_FATAL(Molecules(4, std::vector<Bond>{{-1, 2}}, wanted), "bond 0-3");
  KVTRAJ_EXPECT_FATAL(Molecules(4, {}, std::vector<std::int32_t>{4}), "atom 5 is outside 1..4");
}

// A branched ring molecule (7 atoms) and a water across the corner of a truncated octahedron,
// each atom put into the unit cell on its own as mdrun would write it, and the water moved by a
// few box vectors more.
TEST(MakeWhole, RebuildsAndGathersMoleculesWrappedAtomByAtom) {
  const PeriodicBox box(UnitCell{24.0f, 24.0f, 24.0f, 70.5288f, 109.4712f, 70.5288f});
  const std::vector<Bond> bonds{{0, 1}, {1, 2}, {2, 3}, {3, 4}, {4, 5},
                                {5, 0}, {2, 6}, {7, 8}, {7, 9}};
  const std::vector<Vec> shape{{0, 0, 0},       {1.4, 0, 0},      {2.1, 1.2, 0},   {1.4, 2.4, 0.3},
                               {0, 2.4, 0},     {-0.7, 1.2, 0},   {3.5, 1.2, 0.5}, {4, -1, -1},
                               {4.9, -1.2, -1}, {3.7, -1.8, -1.5}};
  const Vec corner = combine(box, 1.0, 1.0, 1.0), far = combine(box, 2.0, -1.0, 3.0);
  std::vector<float> whole, frame;
  for (std::size_t i = 0; i < shape.size(); ++i) {
    const Vec x{corner[0] + shape[i][0] - 1.5, corner[1] + shape[i][1] - 1.5,
                corner[2] + shape[i][2] - 1.5};
    const Vec s = box.fractional(x);
    const Vec v = combine(box, std::floor(s[0]), std::floor(s[1]), std::floor(s[2]));
    for (int k = 0; k < 3; ++k) {
      whole.push_back(static_cast<float>(x[k]));
      frame.push_back(static_cast<float>(x[k] - v[k] + (i >= 7 ? far[k] : 0.0)));
    }
  }
  const Molecules mol(10, bonds, std::vector<std::int32_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9});
  ASSERT_EQ(mol.count(), 2);
  ASSERT_TRUE(looks_split(mol, 0, frame, box));
  ASSERT_FALSE(looks_split(mol, 0, whole, box));
  const std::vector<float> wrapped = frame;

  make_whole(mol, frame, box);
  EXPECT_FALSE(looks_split(mol, 0, frame, box));
  EXPECT_FALSE(looks_split(mol, 1, frame, box));
  gather(mol, frame, box);
  // The system as it was, moved by the lattice vector that wrapped its first atom, which stayed.
  for (std::size_t i = 0; i < frame.size(); ++i) {
    EXPECT_NEAR(frame[i] - wrapped[i % 3], whole[i] - whole[i % 3], 1e-4) << i;
  }
  EXPECT_EQ(frame[0], wrapped[0]);
  KVTRAJ_EXPECT_FATAL(make_whole(mol, std::span<float>(frame).first(27), box),
                      "make_whole: a frame of 9 atoms for molecules of 10");
}

TEST(LooksSplit, ABondAcrossTheBoxAlongAnyVector) {
  const PeriodicBox box(UnitCell{20.0f, 20.0f, 20.0f});
  const std::vector<Bond> chain{{0, 1}, {1, 2}};
  const Molecules mol(3, chain, std::vector<std::int32_t>{0});
  for (std::size_t k = 0; k < 3; ++k) {
    std::vector<float> x(9, 1.0f);
    x[3 + k] = 7.0f, x[6 + k] = 16.0f;  // whole, and longer than half the box
    EXPECT_FALSE(looks_split(mol, 0, x, box)) << k;
    x[6 + k] = 18.0f;  // 7 -> 18 is 11 Å, its image 9 Å the other way
    EXPECT_TRUE(looks_split(mol, 0, x, box)) << k;
  }
}

// A random walk of a few atoms (steps up to 2 Å) in a dodecahedron that breathes, frames written
// wrapped into each frame's unit cell.
struct Walk {
  std::vector<PeriodicBox> boxes;
  std::vector<std::vector<float>> truth, wrapped;
  static constexpr int kAtoms = 40, kFrames = 60;

  explicit Walk(bool breathing) {
    std::mt19937 rng(17);
    std::uniform_real_distribution<double> step(-1.15, 1.15), start(0.0, 30.0);
    std::vector<double> x(3 * kAtoms);
    for (double& v : x) v = start(rng);
    for (int t = 0; t < kFrames; ++t) {
      const float edge = breathing ? 30.0f + 0.4f * std::sin(0.3f * float(t)) : 30.0f;
      boxes.emplace_back(UnitCell{edge, edge, edge, 60.0f, 60.0f, 90.0f});
      if (t > 0) {
        for (double& v : x) v += step(rng);
      }
      truth.emplace_back(x.begin(), x.end());
      std::vector<float> w(x.size());
      for (int i = 0; i < kAtoms; ++i) {
        const Vec p{x[3 * i], x[3 * i + 1], x[3 * i + 2]};
        const Vec s = boxes.back().fractional(p);
        const Vec v = combine(boxes.back(), std::floor(s[0]), std::floor(s[1]), std::floor(s[2]));
        for (int k = 0; k < 3; ++k) w[3 * i + k] = static_cast<float>(p[k] - v[k]);
      }
      wrapped.push_back(std::move(w));
    }
  }
};

// Unwraps frames first..last of the walk from the first as read.
std::vector<std::vector<float>> unwrap(const Walk& walk, int first, int last) {
  std::vector<std::int32_t> atoms(Walk::kAtoms);
  for (std::int32_t i = 0; i < Walk::kAtoms; ++i) atoms[i] = i;
  std::vector<float> previous = walk.wrapped[first], u = previous;
  std::vector<std::vector<float>> out{u};
  for (int t = first + 1; t <= last; ++t) {
    step_unwrapped(atoms, walk.wrapped[t], walk.boxes[t], previous, u);
    EXPECT_EQ(previous, walk.wrapped[t]);
    out.push_back(u);
  }
  return out;
}

TEST(StepUnwrapped, RecoversTheWalkInAFixedBox) {
  const Walk walk(false);
  const auto u = unwrap(walk, 0, Walk::kFrames - 1);
  int wrapped_away = 0;
  for (int t = 0; t < Walk::kFrames; ++t) {
    for (std::size_t i = 0; i < u[t].size(); ++i) {
      // The walk less its first frame's wrap: a constant lattice vector per atom.
      const double expected = walk.truth[t][i] - (walk.truth[0][i] - walk.wrapped[0][i]);
      EXPECT_NEAR(u[t][i], expected, 2e-4);
      wrapped_away += std::fabs(walk.wrapped[t][i] - expected) > 10.0;
    }
  }
  EXPECT_GT(wrapped_away, 100);  // the frames as read did jump
}

TEST(StepUnwrapped, RunsUnwrappedApartAndJoinedEqualOnePass) {
  const Walk walk(true);
  const auto whole = unwrap(walk, 0, Walk::kFrames - 1);
  const int cut = 23;
  const auto before = unwrap(walk, 0, cut - 1);
  auto after = unwrap(walk, cut, Walk::kFrames - 1);
  // The join: one step from the end of the run before to the first frame of the run after.
  std::vector<std::int32_t> atoms(Walk::kAtoms);
  for (std::int32_t i = 0; i < Walk::kAtoms; ++i) atoms[i] = i;
  std::vector<float> previous = walk.wrapped[cut - 1], u = before.back();
  step_unwrapped(atoms, walk.wrapped[cut], walk.boxes[cut], previous, u);
  for (std::size_t t = 0; t < after.size(); ++t) {
    for (std::size_t i = 0; i < u.size(); ++i) {
      const double joined = double(after[t][i]) + (double(u[i]) - walk.wrapped[cut][i]);
      EXPECT_NEAR(joined, whole[cut + t][i], 2e-4) << t << " " << i;
    }
  }
  for (int t = 1; t < Walk::kFrames; ++t) {
    for (std::size_t i = 0; i < whole[t].size(); ++i) {
      EXPECT_LT(std::fabs(whole[t][i] - whole[t - 1][i]), 2.0);
    }
  }
  std::vector<float> small(3);
  KVTRAJ_EXPECT_FATAL(step_unwrapped(atoms, walk.wrapped[1], walk.boxes[1], small, u),
                      "step_unwrapped: 40 atoms but room for 1");
  const std::vector<std::int32_t> outside{40};
  KVTRAJ_EXPECT_FATAL(step_unwrapped(outside, walk.wrapped[1], walk.boxes[1], previous, u),
                      "atom 41 is outside a frame of 40 atoms");
}

}  // namespace
}  // namespace kvtraj

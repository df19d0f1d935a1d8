// Bond guessing: the cell list finds exactly the pairs an all-pairs search finds, periodic or
// not, in small and skewed boxes and with atoms far outside them; bad input ends with one line.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "support/messages.hpp"
#include "tests/testsupport/testsupport.hpp"
#include "topology/periodic.hpp"

namespace kvtraj {
namespace {

// MDAnalysis 2.4's radii (topology/tables.py) of the types used here.
const std::map<std::string, double> kRadius{
    {"C", 1.70}, {"H", 1.10}, {"O", 1.52}, {"N", 1.55}, {"S", 1.80}};

Topology with_types(const std::vector<std::string>& types) {
  Topology top;
  for (const std::string& t : types) top.names.push_back(t), top.types.push_back(t);
  return top;
}

// Every pair below 0.55 (r_i + r_j) and above 0.1 Å, by its shortest image when there is a box.
std::vector<Bond> all_pairs(const std::vector<std::string>& types, const std::vector<float>& x,
                            const PeriodicBox* box) {
  std::vector<Bond> bonds;
  for (std::size_t i = 0; i < types.size(); ++i) {
    for (std::size_t j = i + 1; j < types.size(); ++j) {
      std::array<double, 3> d{};
      for (int k = 0; k < 3; ++k) d[k] = double(x[3 * j + k]) - x[3 * i + k];
      if (box) d = box->shortest(d);
      const double r = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
      if (r > 0.1 && r < 0.55 * (kRadius.at(types[i]) + kRadius.at(types[j]))) {
        bonds.push_back({std::int32_t(i), std::int32_t(j)});
      }
    }
  }
  return bonds;
}

// The bonds of the connected groups that hold one of `seeds`.
std::vector<Bond> bonds_around(const std::vector<Bond>& bonds, std::size_t n,
                               const std::vector<std::int32_t>& seeds) {
  std::vector<std::size_t> root(n);
  for (std::size_t i = 0; i < n; ++i) root[i] = i;
  auto find = [&](std::size_t i) {
    while (root[i] != i) i = root[i] = root[root[i]];
    return i;
  };
  for (const Bond& b : bonds) root[find(std::size_t(b[0]))] = find(std::size_t(b[1]));
  std::vector<Bond> kept;
  for (const Bond& b : bonds) {
    for (const std::int32_t a : seeds) {
      if (find(std::size_t(a)) == find(std::size_t(b[0]))) {
        kept.push_back(b);
        break;
      }
    }
  }
  return kept;
}

// n atoms of random types at random fractional coordinates in [lo, hi) of the cell.
struct Scatter {
  std::vector<std::string> types;
  std::vector<float> x;
  Scatter(const PeriodicBox& cell, int n, double lo, double hi, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> f(lo, hi);
    // Half sulfur: S-S pairs bond up to the search cutoff itself, 1.98 Å, where cells too thin
    // would lose them.
    const char* names[] = {"S", "S", "S", "S", "C", "H", "O", "N"};
    const auto& m = cell.vectors();
    for (int i = 0; i < n; ++i) {
      types.emplace_back(names[rng() % 8]);
      const double s0 = f(rng), s1 = f(rng), s2 = f(rng);
      for (int k = 0; k < 3; ++k) {
        x.push_back(static_cast<float>(s0 * m[k] + s1 * m[3 + k] + s2 * m[6 + k]));
      }
    }
  }
};

TEST(GuessBonds, CellListFindsWhatAllPairsFind) {
  struct Case {
    UnitCell cell;
    int atoms;
  };
  // Dense enough (about 0.1 atoms per Å^3) for hundreds of bonds; the last two cells are fewer
  // than three cells across (2 and 1), where a neighbour is one on both sides.
  for (const Case& c :
       {Case{{19.0f, 19.0f, 19.0f, 60.0f, 60.0f, 90.0f}, 480},
        Case{{17.0f, 17.0f, 17.0f, 70.5288f, 109.4712f, 70.5288f}, 380},
        Case{{14.0f, 40.0f, 18.0f, 80.0f, 85.0f, 20.0f}, 300},
        Case{{5.0f, 5.5f, 6.0f, 80.0f, 95.0f, 100.0f}, 16}, Case{{3.5f, 3.5f, 3.5f}, 4}}) {
    const PeriodicBox box(c.cell);
    ASSERT_TRUE(box.valid());
    const Scatter s(box, c.atoms, -1.5, 2.5, 3);  // most atoms outside the unit cell
    const auto want = all_pairs(s.types, s.x, &box);
    EXPECT_EQ(guess_bonds(with_types(s.types), s.x, &box), want) << c.cell.a;
    EXPECT_GT(want.size(), std::size_t(c.atoms) / 4) << c.cell.a;
    // Around two atoms (one twice): the bonds of their molecules only.
    const std::vector<std::int32_t> seeds{0, c.atoms / 2, 0};
    EXPECT_EQ(guess_bonds(with_types(s.types), s.x, &box, seeds),
              bonds_around(want, s.types.size(), seeds))
        << c.cell.a;
    // Without the box only the plain distances count.
    EXPECT_EQ(guess_bonds(with_types(s.types), s.x, nullptr), all_pairs(s.types, s.x, nullptr));
  }
}

TEST(GuessBonds, SparseAtomsAndTheLowerBound) {
  // Two clusters a million Å apart: the grid must not grow with the empty space between them.
  const std::vector<std::string> types{"O", "H", "H", "C", "C", "H"};
  std::vector<float> x{0.0f, 0.0f, 0.0f, 0.96f, 0.0f, 0.0f,        -0.24f, 0.93f, 0.0f,
                       1e6f, 1e6f, 1e6f, 1e6f,  1e6f, 1e6f + 1.5f, 1e6f,   1e6f,  1e6f + 0.0625f};
  // O-H, O-H (H-H at 1.51 Å is past 1.21); C-C; C-H at 1.44 and 0.0625 Å: the latter too short.
  EXPECT_EQ(guess_bonds(with_types(types), x, nullptr),
            (std::vector<Bond>{{0, 1}, {0, 2}, {3, 4}, {4, 5}}));
  EXPECT_TRUE(guess_bonds(Topology{}, {}, nullptr).empty());
}

// A type without a radius counts as 0 and is named once, only when its atoms were looked at.
TEST(GuessBonds, UnknownTypesHaveNoRadius) {
  std::string warnings;
  const MessageSink previous = set_message_sink([&](const Message& m) {
    if (m.kind == MessageKind::warning) warnings += std::string(m.text) + "\n";
  });
  // O, its virtual site 0.5 Å away (below 0.55 × 1.52), then C and MW 1.2 Å apart (above
  // 0.55 × 1.70), far from the water.
  const Topology top = with_types({"O", "MW", "C", "MW"});
  const std::vector<float> x{0, 0, 0, 0.5f, 0, 0, 10, 0, 0, 11.2f, 0, 0};
  const auto all = guess_bonds(top, x, nullptr);
  const std::string all_warnings = std::exchange(warnings, "");
  const auto around_c = guess_bonds(top, x, nullptr, std::vector<std::int32_t>{2});
  set_message_sink(previous);
  EXPECT_EQ(all, (std::vector<Bond>{{0, 1}}));
  EXPECT_EQ(all_warnings,
            "guess_bonds: no van der Waals radius for the atom types 'MW' (types are looked up "
            "as written, e.g. C, N, O, H, S); they are taken as 0\n");
  EXPECT_TRUE(around_c.empty());
  EXPECT_EQ(warnings, "");
}

TEST(GuessBonds, RefusesWhatItCannotUse) {
  const std::vector<float> x{0, 0, 0, 1, 0, 0, 2, 0, 0};
  KVTRAJ_EXPECT_FATAL(guess_bonds(with_types({"C", "C"}), x, nullptr),
                      "guess_bonds: 9 coordinates for 2 atoms");
  const std::vector<float> nan{0, 0, 0, 1, std::nanf(""), 0, 2, 0, 0};
  KVTRAJ_EXPECT_FATAL(guess_bonds(with_types({"C", "C", "C"}), nan, nullptr),
                      "guess_bonds: atom 2 has a position that is not finite");
  const PeriodicBox flat(UnitCell{10.0f, 10.0f, 10.0f, 90.0f, 90.0f, 0.0f});
  KVTRAJ_EXPECT_FATAL(guess_bonds(with_types({"C", "C", "C"}), x, &flat),
                      "guess_bonds: the periodic box is not a valid cell");
  KVTRAJ_EXPECT_FATAL(guess_bonds(with_types({"C", "C", "C"}), x, nullptr, std::vector{3}),
                      "guess_bonds: atom index 3 out of range");
}

}  // namespace
}  // namespace kvtraj

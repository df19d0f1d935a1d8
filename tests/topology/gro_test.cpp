// GRO: precisions other than GROMACS's default, the boxes MDAnalysis reads as none, and the
// files refused (cut short, counts beyond the file, other formats).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "tests/topology/fatal_line.hpp"
#include "topology/topology.hpp"

namespace kvtraj {
namespace {

using testing::data_path;
using testing::fatal_line;
using ::testing::HasSubstr;

TEST(Gro, PositionFieldsTakeTheWidthOfTheFirstLine) {
  // gmx editconf -ndec 5: fields of 10 columns, and velocities after them.
  const Topology top = parse_gro(
      "precise\n    2\n"
      "    1SOL     OW    1   0.23001   0.62802  -0.11303  0.1000  0.2000  0.3000\n"
      "    1SOL    HW1    2  10.13704   0.62605   0.15006\n"
      "   1.00000   2.00000   3.00000\n",
      "p.gro");
  ASSERT_EQ(top.coordinates.size(), 6u);
  EXPECT_FLOAT_EQ(top.coordinates[2], -1.1303f);
  EXPECT_FLOAT_EQ(top.coordinates[3], 101.3704f);
  ASSERT_TRUE(top.cell.has_value());
  EXPECT_FLOAT_EQ(top.cell->c, 30.0f);
  EXPECT_EQ(top.cell->alpha, 90.0f);
}

TEST(Gro, EmptyBoxesAreNoCell) {
  const std::string atom = "t\n    1\n    1SOL     OW    1   0.230   0.628   0.113\n";
  EXPECT_FALSE(parse_gro(atom + "   0.00000   0.00000   0.00000\n", "z.gro").cell);
  // Nine values with a zero third vector span no cell.
  EXPECT_FALSE(parse_gro(atom + "1 1 0 0 0 0 0 0 0\n", "f.gro").cell);
}

TEST(Gro, RefusesFilesCutShortOrOfAnotherFormat) {
  EXPECT_EQ(fatal_line([] { read_topology(data_path("topologies/missing_atomname.gro")); }),
            data_path("topologies/missing_atomname.gro") + ":3: no atom name in columns 11-15");
  EXPECT_EQ(fatal_line([] {
              parse_gro("t\n    2\n    1SOL     OW    1   0.230   0.628   0.113\n", "cut.gro");
            }),
            "cut.gro: the file ends after 1 of 2 atoms");
  EXPECT_THAT(fatal_line([] { parse_gro("t\n2000000000\n", "huge.gro"); }),
              HasSubstr("huge.gro:2: a count of 2000000000 atoms, more than"));
  EXPECT_EQ(fatal_line([] { parse_gro("PSF\n\n       1 !NTITLE\n", "psf.gro"); }),
            "psf.gro:2: the atom count is not a number: not a GRO file");
  EXPECT_EQ(fatal_line([] {
              parse_gro("t\n    1\n    1SOL     OW    1   0.230   0.628   0.113\n1 2 3 4\n",
                        "box.gro");
            }),
            "box.gro:4: a box line of 4 values, not 3 or 9");
}

}  // namespace
}  // namespace kvtraj

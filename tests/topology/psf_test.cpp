// PSF: insertion codes in residue numbers, columns that do not line up, and the damaged or
// inconsistent files refused.
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

const std::string kHeader = "PSF\n\n       1 !NTITLE\n REMARKS crafted\n\n";

TEST(Psf, InsertionCodesAreKeptBesideTheResidueNumber) {
  const Topology top = read_topology(data_path("topologies/1a2c_ins_code_cut.psf"));
  EXPECT_EQ(top.resids[0], 1);
  EXPECT_EQ(top.icodes[0], 'H');  // residue 1H of thrombin's light chain
  const auto plain = std::find(top.icodes.begin(), top.icodes.end(), ' ') - top.icodes.begin();
  EXPECT_EQ(top.resids[static_cast<std::size_t>(plain)], 1);
  EXPECT_EQ(top.names[static_cast<std::size_t>(plain)], "N");
}

TEST(Psf, ColumnsThatDoNotLineUpAreReadAsFields) {
  const Topology top = parse_psf(kHeader +
                                     "       2 !NATOM\n"
                                     "1 PROTEIN 7 ALA N NH1 -0.47 14.007 0\n"
                                     "2 PROTEIN 7 ALA HN H 0.31 1.008 0\n\n"
                                     "       1 !NBOND: bonds\n       1       2\n",
                                 "loose.psf");
  EXPECT_EQ(top.segids[0], "PROTEIN");
  EXPECT_EQ(top.resids[1], 7);
  EXPECT_EQ(top.types[1], "H");
  EXPECT_FLOAT_EQ(top.charges[0], -0.47f);
  EXPECT_FLOAT_EQ(top.masses[1], 1.008f);
  EXPECT_EQ(top.elements[1], "H");
  EXPECT_TRUE(top.has_bonds);
  EXPECT_EQ(top.bonds, (std::vector<std::array<std::int32_t, 2>>{{0, 1}}));
}

TEST(Psf, RefusesDamagedSections) {
  EXPECT_EQ(
      fatal_line([] { read_topology(data_path("topologies/adk_notop_BAD_cut.psf")); }),
      data_path("topologies/adk_notop_BAD_cut.psf") + ": the file ends after 50 of its 3341 atoms");
  const std::string atom =
      "       1 A    1    ALA  N    NH1   -0.470000       14.0070           0\n";
  EXPECT_EQ(fatal_line([&] {
              parse_psf(kHeader + "       1 !NATOM\n" + atom + "\n       1 !NBOND\n 1 2\n",
                        "range.psf");
            }),
            "range.psf:10: a bond to \"2\", not an atom of 1..1");
  EXPECT_EQ(fatal_line([&] {
              parse_psf(kHeader + "       1 !NATOM\n" + atom + "\n       5 !NBOND\n 1 1\n",
                        "few.psf");
            }),
            "few.psf: the file ends inside its !NBOND section");
  EXPECT_EQ(fatal_line([&] { parse_psf(kHeader + "       1 !NTHETA\n", "order.psf"); }),
            "order.psf:6: expected the !NATOM section, found \"       1 !NTHETA\"");
  EXPECT_THAT(fatal_line([] { parse_psf("%VERSION\n", "prmtop.psf"); }),
              HasSubstr("prmtop.psf:1: not a PSF file"));
}

}  // namespace
}  // namespace kvtraj

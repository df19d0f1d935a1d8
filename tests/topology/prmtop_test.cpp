// PRMTOP: the damaged files of MDAnalysis's test data and crafted inconsistencies between
// POINTERS and the sections.
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
using testing::read_file;

std::string error_file(int k) {
  return data_path("topologies/ace_mbondi3.error" + std::to_string(k) + ".parm7");
}

TEST(Prmtop, RefusesTheDamagedFixtures) {
  EXPECT_EQ(fatal_line([] { read_topology(error_file(1)); }),
            error_file(1) + ":1: not a PRMTOP file: the first line does not start with %VERSION");
  EXPECT_EQ(fatal_line([] { read_topology(error_file(2)); }),
            error_file(2) + ": no %FLAG POINTERS section");
  EXPECT_EQ(fatal_line([] { read_topology(error_file(3)); }),
            error_file(3) + ":11: %FLAG ATOM_NAME holds 7 values where POINTERS give 6");
  EXPECT_EQ(fatal_line([] { read_topology(error_file(4)); }),
            error_file(4) + ":16: expected the %FORMAT of %FLAG CHARGE, found \"%BAD LINE\"");
}

TEST(Prmtop, RefusesSectionsThatDisagreeWithPointers) {
  const std::string good = read_file(data_path("topologies/ace_mbondi3.parm7"));
  const auto replaced = [&](const std::string& from, const std::string& to) {
    std::string text = good;
    text.replace(text.find(from), from.size(), to);
    return text;
  };
  // Bond atoms are stored as 3 x (atom - 1): 13 is no atom.
  EXPECT_EQ(fatal_line([&] {
              parse_prmtop(replaced("       3       6       2       3       9",
                                    "      13       6       2       3       9"),
                           "bond.parm7");
            }),
            "bond.parm7:79: %FLAG BONDS_INC_HYDROGEN names atom index 13, not 3 x (an atom of "
            "1..6 - 1)");
  // A count beyond what the file could hold is refused before anything is sized by it.
  EXPECT_EQ(fatal_line(
                [&] { parse_prmtop(replaced("       6       4", "99999999       4"), "n.parm7"); }),
            "n.parm7:5: POINTERS with impossible counts");
  EXPECT_EQ(
      fatal_line([&] { parse_prmtop(replaced("%FORMAT(5E16.8)", "%FORMAT(20a4)"), "k.parm7"); }),
      "k.parm7:14: %FLAG CHARGE has a format of the wrong kind");
}

}  // namespace
}  // namespace kvtraj

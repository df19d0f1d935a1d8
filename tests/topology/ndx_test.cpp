// GROMACS index files: the groups gmx make_ndx writes for residwrap.gro, checked against the
// atoms of the GRO file, and the files refused.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/topology/fatal_line.hpp"
#include "topology/topology.hpp"

namespace kvtraj {
namespace {

using testing::data_path;
using testing::fatal_line;

std::vector<std::int32_t> atoms_named(const Topology& top,
                                      std::initializer_list<const char*> names) {
  std::vector<std::int32_t> out;
  for (std::int32_t i = 0; i < top.natoms(); ++i) {
    for (const char* name : names) {
      if (top.names[static_cast<std::size_t>(i)] == name) out.push_back(i);
    }
  }
  return out;
}

TEST(Ndx, GroupsOfMakeNdxHoldTheAtomsTheyName) {
  const Topology top = read_topology(data_path("topologies/residwrap.gro"));
  const IndexGroups groups = read_index_groups(data_path("topologies/residwrap.ndx"), top.natoms());
  ASSERT_EQ(groups.groups.size(), 10u);
  EXPECT_EQ(groups.groups[0].first, "System");
  EXPECT_EQ(groups.groups[0].second.size(), 126u);
  ASSERT_NE(groups.find("C-alpha"), nullptr);
  EXPECT_EQ(*groups.find("C-alpha"), atoms_named(top, {"CA"}));
  EXPECT_EQ(*groups.find("Backbone"), atoms_named(top, {"N", "CA", "C"}));
  EXPECT_EQ(groups.find("c-alpha"), nullptr);  // names are matched exactly
}

TEST(Ndx, RefusesNumbersOutsideTheSystemAndTextThatIsNoIndex) {
  EXPECT_EQ(fatal_line([] { parse_index_groups("[ Water ]\n1 2\n3\n", "w.ndx", 2); }),
            "w.ndx:3: group Water holds atom 3, outside 1..2");
  EXPECT_EQ(fatal_line([] { parse_index_groups("[ A ]\n1 0\n", "z.ndx", 2); }),
            "z.ndx:2: group A holds atom 0, outside 1..2");
  EXPECT_EQ(fatal_line([] { parse_index_groups("1 2\n[ A ]\n", "h.ndx", 2); }),
            "h.ndx:1: atom numbers before the first [ group ] header");
  EXPECT_EQ(fatal_line([] { parse_index_groups("[ A ]\n1 x\n", "x.ndx", 2); }),
            "x.ndx:2: \"x\" is not an atom number");
  EXPECT_EQ(fatal_line([] { parse_index_groups("[ A \n", "b.ndx", 2); }),
            "b.ndx:1: a group header without its closing ]");
}

}  // namespace
}  // namespace kvtraj

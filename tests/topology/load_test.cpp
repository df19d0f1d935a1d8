// read_topology and read_index_groups on the file system: what is not a file, not a known
// format, or of another format than its extension says.
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

TEST(Load, RefusesWhatIsNoRegularFileOrHasAnUnknownExtension) {
  const testing::TempDir dir;
  EXPECT_EQ(fatal_line([&] { read_topology(dir.path("none.pdb")); }),
            dir.path("none.pdb") + ": no such file");
  testing::write_file(dir.path("top.xyz"), "1\n\nC 0 0 0\n");
  EXPECT_EQ(fatal_line([&] { read_topology(dir.path("top.xyz")); }),
            dir.path("top.xyz") +
                ": unknown topology format: the known extensions are .pdb .ent .gro .psf .prmtop "
                ".parm7");
  EXPECT_EQ(fatal_line([] { read_topology("/dev/null.gro"); }), "/dev/null.gro: no such file");
  EXPECT_EQ(fatal_line([] { read_index_groups("/dev/zero", 10); }),
            "/dev/zero: not a regular file");
}

TEST(Load, AFileOfAnotherFormatIsRefusedInOneLine) {
  const testing::TempDir dir;
  for (const char* name : {"parmed_ala3.psf", "ace_mbondi3.parm7", "residwrap.gro"}) {
    for (const char* as : {"as.gro", "as.pdb", "as.psf", "as.prmtop"}) {
      if (topology_format(name) == topology_format(as)) continue;
      const std::string content = testing::read_file(data_path("topologies/") + name);
      testing::write_file(dir.path(as), content);
      EXPECT_THAT(fatal_line([&] { read_topology(dir.path(as)); }), HasSubstr(dir.path(as)))
          << name << " " << as;
    }
  }
}

}  // namespace
}  // namespace kvtraj

// kvt on a solvated constant-pressure GROMACS run with its topology: selections, the repair of
// periodic images, atom records in the KVT file, and the bad inputs of topologies and
// selections (one line, status 1, no output file).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "kvt_io/kvt_io.hpp"
#include "tests/testsupport/testsupport.hpp"

namespace kvtraj {
namespace {

using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using testing::run_program;
using testing::RunResult;

std::string water(std::string_view extension) {
  return testing::data_path("water/dodecahedron" + std::string(extension));
}

RunResult kvt(const std::vector<std::string>& args) {
  return run_program(KVT_PROGRAM, args);
}

class KvtTopology : public ::testing::Test {
 protected:
  testing::TempDir dir;
  std::string path(std::string_view name) const { return dir.path(name); }
  RunResult compress(const std::string& out, std::vector<std::string> extra) {
    std::vector<std::string> args = {"compress", "-i", water(".xtc"), "-o", path(out), "--quiet"};
    args.insert(args.end(), extra.begin(), extra.end());
    return kvt(args);
  }
};

// Nojump is the default with a topology and cells; each of three threads unwraps its own part
// of the frames, and the parts are stitched into what one thread computes.
TEST_F(KvtTopology, SelectionIsStoredWithItsNamesAndThreadsAgreeWithOne) {
  const std::vector<std::string> select = {"--top", water(".psf"), "--select", "resname SOL"};
  auto with = [&](std::vector<std::string> more) {
    more.insert(more.begin(), select.begin(), select.end());
    return more;
  };
  const RunResult one = compress("1.kvt", with({"--threads", "1", "--vectors", "4"}));
  ASSERT_EQ(one.status, 0) << one.err;
  EXPECT_THAT(one.out, HasSubstr(": 2838 of 3038 atoms selected, periodic images: nojump, 20 "
                                 "snapshots, 4 vectors"));
  const RunResult three = compress("3.kvt", with({"--threads", "3", "--vectors", "4"}));
  ASSERT_EQ(three.status, 0) << three.err;
  const kvtfile a = kvtopen(1, path("1.kvt")), b = kvtopen(2, path("3.kvt"));
  ASSERT_EQ(b.natoms, 2838);
  for (std::size_t i = 0; i < a.avg.size(); ++i) ASSERT_NEAR(b.avg[i], a.avg[i], 1e-3) << i;
  for (std::size_t k = 0; k < 4; ++k) EXPECT_NEAR(b.evals[k], a.evals[k], 1e-5 * a.evals[k]);
  ASSERT_EQ(b.atoms.size(), 2838u);
  EXPECT_EQ(b.atoms[0].number, 201);
  EXPECT_EQ(b.atoms[0].name, "OW");
  EXPECT_EQ(b.atoms[0].resname, "SOL");
  const RunResult info = kvt({"info", path("3.kvt")});
  EXPECT_THAT(info.out, HasSubstr("atom records: 2838\n"));
  EXPECT_THAT(info.out, MatchesRegex("(.|\n)*\n *201 OW  +[0-9]+ SOL(.|\n)*"));
}

// Without the repair the protein, split in five frames from the fifth on, draws one warning.
TEST_F(KvtTopology, SplitMoleculeWithoutRepairDrawsOneWarning) {
  const RunResult r =
      compress("n.kvt", {"--top", water(".gro"), "--select", "protein", "--pbc", "none"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.err, MatchesRegex("[^\n]*dodecahedron.xtc: snapshot 5 holds 1 molecule of the "
                                  "selection split across the box edges[^\n]*\n"));
  EXPECT_THAT(r.out, HasSubstr(": 200 of 3038 atoms selected, 20 snapshots"));
}

TEST_F(KvtTopology, BadTopologiesAndSelectionsEndWithOneLine) {
  testing::write_file(path("cut.gro"), testing::read_file(water(".gro")).substr(0, 2000));
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const std::string gro = water(".gro");
  const std::vector<Case> cases = {
      {{"--top", testing::data_path("peptide.pdb")}, "peptide.pdb: 200 atoms, but .* holds 3038"},
      {{"--top", path("cut.gro")}, "cut.gro:2: a count of 3038 atoms, more than"},
      {{"--top", gro, "--select", "name CA and"},
       "selection \"name CA and\": expected .* at column 12"},
      {{"--top", gro, "--select", "frob CA"}, "unknown keyword \"frob\""},
      {{"--top", gro, "--select", "group Protein"}, "no index group is named \"Protein\""},
      {{"--top", gro, "--select", "name XX"}, "no atom is selected"},
      {{"--top", gro, "--select", "protein", "--fit-select", "resname SOL"},
       "the fit selection .* holds 2838 atoms that are not stored"},
      {{"--select", "protein"}, "--select needs a topology: give --top"},
  };
  for (const Case& c : cases) {
    const RunResult r = compress("bad.kvt", c.args);
    EXPECT_EQ(r.status, 1) << c.message;
    EXPECT_THAT(r.err, MatchesRegex("kvt: [^\n]*" + c.message + "[^\n]*\n")) << r.err;
    EXPECT_FALSE(std::filesystem::exists(path("bad.kvt"))) << c.message;
  }
  const RunResult cellless =
      kvt({"compress", "-i", testing::data_path("peptide10.dcd"), "-o", path("bad.kvt"), "--top",
           testing::data_path("peptide.pdb"), "--pbc", "whole"});
  EXPECT_EQ(cellless.status, 1);
  EXPECT_THAT(cellless.err, MatchesRegex("kvt: .*--pbc whole needs frames with a unit cell.*\n"));
  EXPECT_FALSE(std::filesystem::exists(path("bad.kvt")));
}

}  // namespace
}  // namespace kvtraj

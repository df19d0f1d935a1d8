// kvt select as a user runs it: atom numbers on standard output, an index group written as
// GROMACS writes one and read back through --index, and the errors (one line, status 1, no
// output file).
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "tests/testsupport/testsupport.hpp"

namespace kvtraj {
namespace {

using testing::run_program;
using testing::RunResult;

RunResult kvt(const std::vector<std::string>& args) {
  return run_program(KVT_PROGRAM, args);
}

// A GRO file of a dipeptide (atoms 1-6) and four waters (7-18).
std::string small_gro() {
  struct Atom {
    int resid;
    const char* resname;
    const char* name;
  };
  const Atom atoms[] = {{1, "ALA", "N"},   {1, "ALA", "CA"},  {1, "ALA", "C"},   {2, "GLY", "N"},
                        {2, "GLY", "CA"},  {2, "GLY", "C"},   {3, "SOL", "OW"},  {3, "SOL", "HW1"},
                        {3, "SOL", "HW2"}, {4, "SOL", "OW"},  {4, "SOL", "HW1"}, {4, "SOL", "HW2"},
                        {5, "SOL", "OW"},  {5, "SOL", "HW1"}, {5, "SOL", "HW2"}, {6, "SOL", "OW"},
                        {6, "SOL", "HW1"}, {6, "SOL", "HW2"}};
  std::string text = "test system\n" + std::to_string(std::size(atoms)) + "\n";
  for (std::size_t k = 0; k < std::size(atoms); ++k) {
    const Atom& a = atoms[k];
    char line[64];
    std::snprintf(line, sizeof line, "%5d%-5s%5s%5zu%8.3f%8.3f%8.3f\n", a.resid, a.resname, a.name,
                  k + 1, 0.1 * static_cast<double>(k), 0.2, 0.3);
    text += line;
  }
  return text + "   3.00000   3.00000   3.00000\n";
}

class KvtSelect : public ::testing::Test {
 protected:
  void SetUp() override { testing::write_file(gro, small_gro()); }
  testing::TempDir dir;
  const std::string gro = dir.path("small.gro");
  const std::string ndx = dir.path("out.ndx");
};

TEST_F(KvtSelect, PrintsTheNumbersFromOneOnePerLine) {
  const RunResult r = kvt({"select", "--top", gro, "name CA or resid 6 and name H*"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "17\n18\n");  // "or" and "and" bind alike, from left to right
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(kvt({"select", "--top", gro, "protein and name CA"}).out, "2\n5\n");
}

TEST_F(KvtSelect, WritesAnIndexGroupAsGromacsDoesAndReadsItBack) {
  RunResult r = kvt({"select", "--top", gro, "not  name CA", "-o", ndx});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(testing::read_file(ndx),
            "[ not_name_CA ]\n"
            "   1    3    4    6    7    8    9   10   11   12   13   14   15   16   17\n"
            "  18\n");
  r = kvt({"select", "--top", gro, "resname SOL and name OW", "-o", ndx, "--name", "Water O"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(testing::read_file(ndx), "[ Water O ]\n   7   10   13   16\n");
  r = kvt({"select", "--top", gro, "--index", ndx, "group \"Water O\" and bynum 8-13"});
  EXPECT_EQ(r.out, "10\n13\n") << r.err;
}

TEST_F(KvtSelect, ErrorsEndWithOneLineAndLeaveNoFile) {
  testing::write_file(ndx, "[ Old ]\n 1\n");
  struct Case {
    std::vector<std::string> args;
    std::string err;
  };
  const Case cases[] = {
      {{"byres name CA"},
       "kvt: selection \"byres name CA\": unknown keyword \"byres\" at column 1 (an MDAnalysis "
       "keyword not supported here)\n"},
      {{"name CX"}, "kvt: selection \"name CX\": no atom is selected\n"},
      {{"chainID A"},
       "kvt: selection \"chainID A\": the topology holds no chain IDs for the keyword at "
       "column 1\n"},
      {{"group Old"},
       "kvt: selection \"group Old\": no index groups were given for the group \"Old\" at "
       "column 1\n"},
      {{"name", "CA"}, "kvt: unexpected argument CA\n"},
      {{"name CA", "--name", "x"}, "kvt: --name goes with -o\n"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"select", "--top", gro};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const bool writes = c.args.size() == 1;
    if (writes) args.insert(args.end(), {"-o", ndx});
    const RunResult r = kvt(args);
    EXPECT_EQ(r.status, 1) << c.args[0];
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.err);
  }
  EXPECT_EQ(testing::read_file(ndx), "[ Old ]\n 1\n");  // the failed runs left it alone
  EXPECT_EQ(kvt({"select", "name CA"}).err, "kvt: --top is missing: give the topology file\n");
  EXPECT_EQ(kvt({"select", "--top", dir.path("none.gro"), "name CA"}).err,
            "kvt: " + dir.path("none.gro") + ": no such file\n");
  EXPECT_EQ(kvt({"select", "--top", gro}).err,
            "kvt: select needs a selection (see kvt select --help)\n");
  // No temporary file of a failed -o stays behind.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.root()), {}), 2);
}

}  // namespace
}  // namespace kvtraj

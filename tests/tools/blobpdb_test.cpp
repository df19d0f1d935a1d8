// blobpdb run as a user would: PDB records byte for byte, messages and exit statuses.
#include <gtest/gtest.h>

#include <string>

#include "tests/testsupport/testsupport.hpp"
#include "tests/tools/converter_run.hpp"

namespace kvtraj::testing {
namespace {

constexpr int kBadInput = 255;  // the program's status -1
const std::string kHeaderError =
    "Error when reading '*\\nBlob x, step y\\n' line after or on step ";

std::string announced(const Conversion& c) {
  return "Opening trajectory file " + c.in + " for reading\nOutputting to pdb file " + c.out + "\n";
}

std::string one_node(long long step, const std::string& node_line) {
  return "*\nBlob 2, step " + std::to_string(step) + "\n1\n" + node_line + "\n";
}

TEST(Blobpdb, CompleteFileGivesGoldenModelsAndEndsWithZero) {
  // Serial numbers restart at 0 in every record; a record of 0 nodes is TER and ENDMDL alone.
  TempDir dir;
  const Conversion c = convert_file(BLOBPDB, data_path("tools/nodes_plain.txt"), dir);
  EXPECT_EQ(c.run.status, 0);
  EXPECT_EQ(c.run.out, golden("nodes_plain.pdb.stdout", c));
  EXPECT_EQ(c.output, golden("nodes_plain.pdb", c));
}

TEST(Blobpdb, EmptyInputIsACleanEnd) {
  TempDir dir;
  const Conversion c = convert_text(BLOBPDB, "", dir);
  EXPECT_EQ(c.run.status, 0);
  EXPECT_EQ(c.run.out, announced(c) + kHeaderError + "0\n");
  EXPECT_EQ(c.output, "");
}

TEST(Blobpdb, ReadingErrors) {
  TempDir dir;
  Conversion c = convert_file(BLOBPDB, dir.root(), dir);  // every read of a directory fails
  EXPECT_EQ(c.run.status, 1);
  EXPECT_EQ(c.run.err, dir.root() + ": could not be read: Is a directory\n");

  const std::string first = one_node(5, "1e-10 2e-10 3e-10 4 5 6");
  c = convert_text(BLOBPDB, first + "*\nBlob 1 step 10\n1\n0 0 0\n", dir);
  EXPECT_EQ(c.run.status, kBadInput);
  EXPECT_EQ(c.run.out, announced(c) + kHeaderError + "5\n");
  EXPECT_EQ(c.output, "ATOM      0  N   GLY     1       1.000   2.000   3.000\nTER\nENDMDL\n");

  c = convert_text(BLOBPDB, "*\nBlob 0, step 7\nDYNAMIC\n1\n0 0 0\n", dir);
  EXPECT_EQ(c.run.status, kBadInput);
  EXPECT_EQ(c.run.out, announced(c) + "Could not read number of nodes line at step 7\n");
  c = convert_text(BLOBPDB, "*\nBlob 0, step 7\n-2\n", dir);  // a negative count is no count
  EXPECT_EQ(c.run.status, kBadInput);
  EXPECT_EQ(c.run.out, announced(c) + "Could not read number of nodes line at step 7\n");

  c = convert_text(BLOBPDB, "*\nBlob 0, step 7\n2\n0 0 0\n1e-10 x 3\n", dir);
  EXPECT_EQ(c.run.status, kBadInput);
  EXPECT_EQ(c.run.out, announced(c) + "Could not read coordinates on line 2 of step 7\n");
}

TEST(Blobpdb, RefusesValuesWiderThanTheirColumns) {
  TempDir dir;
  Conversion c = convert_text(BLOBPDB, one_node(3, "9.999999e-7 -9.99999e-8 0"), dir);
  EXPECT_EQ(c.run.status, 0);
  EXPECT_EQ(c.output, "ATOM      0  N   GLY     1    9999.999-999.999   0.000\nTER\nENDMDL\n");

  for (const std::string node : {"1e-6 0 0", "0 -1e-7 0", "0 0 nan"}) {
    c = convert_text(BLOBPDB, one_node(3, node), dir);
    EXPECT_EQ(c.run.status, kBadInput) << node;
    EXPECT_NE(c.run.out.find("on line 1 of step 3 does not fit the %8.3f field\n"),
              std::string::npos)
        << c.run.out;
    EXPECT_EQ(c.output, "") << node;
  }
}

TEST(Blobpdb, CommandLineOpenAndWriteFailures) {
  TempDir dir;
  RunResult r = run_program(BLOBPDB, {});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Usage: ./blobpdb [INPUT VORTAN_TRAJECTORY FILE] [OUTPUT PDB FILE]\n");

  const std::string missing = dir.path("missing.txt");
  r = run_program(BLOBPDB, {missing, dir.path("out")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Opening trajectory file " + missing + " for reading\nError: Could not open " +
                       "trajectory file " + missing + " for reading.\n");

  write_file(dir.path("in.txt"), numbered_records(3, false));
  const std::string bad_out = dir.path("no-such-dir/out");
  r = run_program(BLOBPDB, {dir.path("in.txt"), bad_out});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("Error: Could not open pdb file " + bad_out + " for writing.\n"),
            std::string::npos);

  r = run_program(BLOBPDB, {dir.path("in.txt"), "/dev/full"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("Error: Could not write pdb file /dev/full: No space left on device\n"),
            std::string::npos)
      << r.out;
}

}  // namespace
}  // namespace kvtraj::testing

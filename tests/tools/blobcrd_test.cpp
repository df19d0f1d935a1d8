// blobcrd run as a user would: AMBER output byte for byte, messages and exit statuses.
#include <gtest/gtest.h>

#include <string>

#include "support/files.hpp"
#include "tests/testsupport/testsupport.hpp"
#include "tests/tools/converter_run.hpp"

namespace kvtraj::testing {
namespace {

constexpr int kBadInput = 255;  // the program's status -1
const std::string kTitle = "trajectory not created by ptraj\n";
const std::string kHeaderError =
    "Error when reading '*\\nBlob x, step y\\n' line after or on step ";

std::string announced(const Conversion& c) {
  return "Opening trajectory file " + c.in + " for reading\nOutputting to x file " + c.out + "\n";
}

std::string one_node(long long step, const std::string& node_line) {
  return "*\nBlob 2, step " + std::to_string(step) + "\nDYNAMIC\n1\n" + node_line + "\n";
}

TEST(Blobcrd, CompleteFileGivesGoldenFramesAndCleanEnd) {
  // 4 nodes (a line of ten values and one of two), 10 nodes (three full lines, no empty line
  // after them), a record of 0 nodes (no line at all) and a last record of one node.
  TempDir dir;
  const Conversion c = convert_file(BLOBCRD, data_path("tools/nodes_state.txt"), dir);
  EXPECT_EQ(c.run.status, 0);
  EXPECT_EQ(c.run.out, golden("nodes_state.crd.stdout", c));
  EXPECT_EQ(c.output, golden("nodes_state.crd", c));
}

TEST(Blobcrd, EndsOfInputThatAreClean) {
  TempDir dir;
  Conversion c = convert_text(BLOBCRD, "", dir);
  EXPECT_EQ(c.run.status, 0);
  EXPECT_EQ(c.run.out, announced(c) + kHeaderError + "0\n");
  EXPECT_EQ(c.output, kTitle);

  // Blank lines after the last record lose nothing.
  c = convert_text(BLOBCRD, one_node(4, "1e-9 1e-9 1e-9") + "\n \n", dir);
  EXPECT_EQ(c.run.status, 0);
  EXPECT_EQ(c.run.out, announced(c) + kHeaderError + "4\n");
  EXPECT_EQ(c.output, kTitle + "   1.000   1.000   1.000\n");

  // A last node line without a line break ends the input before another header is tried.
  c = convert_text(BLOBCRD, "*\nBlob 2, step 9\nDYNAMIC\n1\n1e-9 -2e-9 3e-9 5", dir);
  EXPECT_EQ(c.run.status, 0);
  EXPECT_EQ(c.run.out, announced(c));
  EXPECT_EQ(c.output, kTitle + "   1.000  -2.000   3.000\n");
}

TEST(Blobcrd, PrintsTheStepOfEveryThousandthRecord) {
  TempDir dir;
  Conversion c = convert_text(BLOBCRD, numbered_records(999, true), dir);
  EXPECT_EQ(c.run.out, announced(c) + kHeaderError + "9990\n");
  c = convert_text(BLOBCRD, numbered_records(2001, true), dir);
  EXPECT_EQ(c.run.status, 0);
  EXPECT_EQ(c.run.out, announced(c) + "step = 10000\nstep = 20000\n" + kHeaderError + "20010\n");
  std::string frames = kTitle;
  for (int k = 0; k < 2001; ++k) frames += "   1.000   2.000   3.000\n";
  EXPECT_EQ(c.output, frames);
}

TEST(Blobcrd, DamagedHeaderBeforeTheEndIsAFailure) {
  TempDir dir;
  const std::string first = one_node(5, "1e-9 1e-9 1e-9");
  for (const std::string tail :
       {"*\nBlub 1, step 10\nDYNAMIC\n1\n1e-9 1e-9 1e-9\n", "*\nBlob 1, st", "*\n", "x\n",
        "\n*\nBlob 1, step 10\nDYNAMIC\n1\n1e-9 1e-9 1e-9\n"}) {
    const Conversion c = convert_text(BLOBCRD, first + tail, dir);
    EXPECT_EQ(c.run.status, kBadInput) << tail;
    EXPECT_EQ(c.run.out, announced(c) + kHeaderError + "5\n") << tail;
  }
}

TEST(Blobcrd, UnreadableInputIsAFailure) {
  // A directory opens for reading but every read fails: a read error, not damaged input, so
  // no output is made and the system's reason is given.
  TempDir dir;
  const Conversion c = convert_file(BLOBCRD, dir.root(), dir);
  EXPECT_EQ(c.run.status, 1);
  EXPECT_EQ(c.run.err, dir.root() + ": could not be read: Is a directory\n");
  EXPECT_EQ(c.output, "");
}

TEST(Blobcrd, CountAndNodeLineErrors) {
  TempDir dir;
  Conversion c = convert_text(BLOBCRD, "*\nBlob 0, step 7\nDYNAMIC\nmany\n", dir);
  EXPECT_EQ(c.run.status, kBadInput);
  EXPECT_EQ(c.run.out, announced(c) + "Could not read number of nodes line at step 7\n");
  c = convert_text(BLOBCRD, "*\nBlob 0, step 7\nDYNAMIC\n-2\n",
                   dir);  // a negative count is no count
  EXPECT_EQ(c.run.status, kBadInput);
  EXPECT_EQ(c.run.out, announced(c) + "Could not read number of nodes line at step 7\n");

  c = convert_text(BLOBCRD, "*\nBlob 0, step 7\nDYNAMIC\n3\n1e-9 2e-9 3e-9\n1e-9 2e-9\n", dir);
  EXPECT_EQ(c.run.status, kBadInput);
  EXPECT_EQ(c.run.out, announced(c) + "Could not read coordinates on line 2 of step 7\n");

  c = convert_text(BLOBCRD, "*\nBlob 0, step 8\nDYNAMIC\n2\n1e-9 2e-9 3e-9\n", dir);
  EXPECT_EQ(c.run.status, kBadInput);
  EXPECT_EQ(c.run.out, announced(c) + "Could not read coordinates on line 2 of step 8\n");
}

TEST(Blobcrd, RefusesValuesWiderThanTheirColumns) {
  TempDir dir;
  // The widest values that fit: 9999.999 nm and -999.999 nm.
  Conversion c = convert_text(BLOBCRD, one_node(3, "9.999999e-6 -9.99999e-7 0"), dir);
  EXPECT_EQ(c.run.status, 0);
  EXPECT_EQ(c.output, kTitle + "9999.999-999.999   0.000\n");

  for (const std::string node :
       {"1e-5 0 0", "0 -1e-6 0", "0 0 9.9999996e-6", "0 0 nan", "inf 0 0"}) {
    c = convert_text(BLOBCRD, one_node(3, node), dir);
    EXPECT_EQ(c.run.status, kBadInput) << node;
    EXPECT_NE(c.run.out.find("on line 1 of step 3 does not fit the %8.3f field\n"),
              std::string::npos)
        << c.run.out;
    EXPECT_EQ(c.output, kTitle) << node;
  }
  c = convert_text(BLOBCRD, one_node(3, "0 0 0") + one_node(4, "0 0 0") + one_node(4, "0 -2e-6 0"),
                   dir);
  EXPECT_EQ(
      c.run.out,
      announced(c) + "Coordinate -2000 nm on line 1 of step 4 does not fit the %8.3f field\n");
  EXPECT_EQ(c.output, kTitle + "   0.000   0.000   0.000\n   0.000   0.000   0.000\n");
}

TEST(Blobcrd, CommandLineAndOpenFailures) {
  TempDir dir;
  RunResult r = run_program(BLOBCRD, {"only-one"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Usage: blobcrd [INPUT NODE TRAJECTORY FILE] [OUTPUT X FILE]\n");

  const std::string missing = dir.path("missing.txt");
  r = run_program(BLOBCRD, {missing, dir.path("out")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Opening trajectory file " + missing + " for reading\nError: Could not open " +
                       "trajectory file " + missing + " for reading.\n");
  EXPECT_FALSE(file_exists(dir.path("out")));

  write_file(dir.path("in.txt"), "");
  const std::string bad_out = dir.path("no-such-dir/out");
  r = run_program(BLOBCRD, {dir.path("in.txt"), bad_out});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Opening trajectory file " + dir.path("in.txt") +
                       " for reading\nOutputting to x file " + bad_out +
                       "\nError: Could not open x file " + bad_out + " for writing.\n");
}

TEST(Blobcrd, WriteFailuresAreReported) {
  TempDir dir;
  write_file(dir.path("in.txt"), numbered_records(3, true));
  RunResult r = run_program(BLOBCRD, {dir.path("in.txt"), "/dev/full"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("Error: Could not write x file /dev/full: No space left on device\n"),
            std::string::npos)
      << r.out;

  // A disk that fills up in the middle of a large conversion stops it.
  const Conversion c = convert_text(BLOBCRD, numbered_records(100000, true), dir, 4096);
  EXPECT_EQ(c.run.status, 1);
  EXPECT_NE(c.run.out.find("Error: Could not write x file " + c.out + ": File too large\n"),
            std::string::npos)
      << c.run.out;
  // It stops at the first block that cannot be written (outputs are written in 1 MiB blocks),
  // long before the 100 progress lines of a complete run.
  std::size_t progress = 0;
  for (auto at = c.run.out.find("step = "); at != std::string::npos;
       at = c.run.out.find("step = ", at + 1)) {
    ++progress;
  }
  EXPECT_LT(progress, 100u);
}

}  // namespace
}  // namespace kvtraj::testing

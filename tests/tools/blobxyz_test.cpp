// blobxyz run as a user would: coordinate triples byte for byte, messages and exit statuses.
#include <gtest/gtest.h>

#include <string>

#include "support/files.hpp"
#include "tests/testsupport/testsupport.hpp"
#include "tests/tools/converter_run.hpp"

namespace kvtraj::testing {
namespace {

constexpr int kFailure = 255;  // the program's status -1
const std::string kNoErrors = "Reached end of file. No errors.";

std::string announced(const Conversion& c) {
  return "traj = " + c.in + "\nout = " + c.out + "\n";
}

TEST(Blobxyz, CompleteFileGivesGoldenTriplesInMetres) {
  TempDir dir;
  const Conversion c = convert_file(BLOBXYZ, data_path("tools/nodes_plain.txt"), dir);
  EXPECT_EQ(c.run.status, 0);
  EXPECT_EQ(c.run.out, golden("nodes_plain.xyz.stdout", c));
  EXPECT_EQ(c.output, golden("nodes_plain.xyz", c));
}

TEST(Blobxyz, StaticRecordsAndWordCountsWriteNothing) {
  TempDir dir;
  const Conversion c = convert_file(BLOBXYZ, data_path("tools/static.txt"), dir);
  EXPECT_EQ(c.run.status, 0);
  EXPECT_EQ(c.run.out, announced(c) + kNoErrors);
  EXPECT_EQ(c.output, golden("static.xyz", c));
}

TEST(Blobxyz, EmptyInputEndsWithoutErrors) {
  TempDir dir;
  const Conversion c = convert_text(BLOBXYZ, "", dir);
  EXPECT_EQ(c.run.status, 0);
  EXPECT_EQ(c.run.out, announced(c) + kNoErrors);
  EXPECT_EQ(c.output, "");
}

TEST(Blobxyz, HeaderErrorsNameTheLastBlobAndStep) {
  TempDir dir;
  Conversion c = convert_text(BLOBXYZ, "*\nBlub 1, step 2\n", dir);
  EXPECT_EQ(c.run.status, kFailure);
  EXPECT_EQ(c.run.out, announced(c) + "Error reading header info after Blob -1 at step 0\n");

  // A header read in part already names its blob.
  c = convert_text(BLOBXYZ, "*\nBlob 3, step 100\nSTATIC\n*\nBlob 7, stop 9\n", dir);
  EXPECT_EQ(c.run.status, kFailure);
  EXPECT_EQ(c.run.out, announced(c) + "Error reading header info after Blob 7 at step 100\n");
}

TEST(Blobxyz, CountAndNodeLineErrors) {
  TempDir dir;
  Conversion c = convert_text(BLOBXYZ, "*\nBlob 3, step 100\n", dir);
  EXPECT_EQ(c.run.status, kFailure);
  EXPECT_EQ(c.run.out, announced(c) + "Error\n");
  c = convert_text(BLOBXYZ, "*\nBlob 3, step 100\n-4\n", dir);  // a negative count
  EXPECT_EQ(c.run.status, kFailure);
  EXPECT_EQ(c.run.out, announced(c) + "Error\n");

  c = convert_text(BLOBXYZ, "*\nBlob 3, step 100\n2\n1 2 3 4 5 6 7 8 9 10\n1 2 x\n", dir);
  EXPECT_EQ(c.run.status, kFailure);
  EXPECT_EQ(c.run.out,
            announced(c) + "result = 2\nError reading node 1 info at Blob 3, step 100\n");
  EXPECT_EQ(c.output, "1.000000e+00 2.000000e+00 3.000000e+00\n");

  c = convert_text(BLOBXYZ, "*\nBlob 4, step 101\n1\n", dir);
  EXPECT_EQ(c.run.status, kFailure);
  EXPECT_EQ(c.run.out,
            announced(c) + "result = -1\nError reading node 0 info at Blob 4, step 101\n");
}

TEST(Blobxyz, CommandLineOpenAndWriteFailures) {
  TempDir dir;
  RunResult r = run_program(BLOBXYZ, {"a", "b", "c"});
  EXPECT_EQ(r.status, kFailure);
  EXPECT_EQ(r.out, "Usage: ./blobxyz [INPUT TRAJECTORY FNAME] [XYZ OUTPUT FNAME]\n");

  // Nothing is created after the input fails to open.
  const std::string missing = dir.path("missing.txt");
  r = run_program(BLOBXYZ, {missing, dir.path("out")});
  EXPECT_EQ(r.status, kFailure);
  EXPECT_EQ(r.out, "traj = " + missing + "\nout = " + dir.path("out") + "\nCould not open " +
                       missing + " for reading\n");
  EXPECT_FALSE(file_exists(dir.path("out")));

  write_file(dir.path("in.txt"), numbered_records(3, false));
  const std::string bad_out = dir.path("no-such-dir/out");
  r = run_program(BLOBXYZ, {dir.path("in.txt"), bad_out});
  EXPECT_EQ(r.status, kFailure);
  EXPECT_EQ(r.out, "traj = " + dir.path("in.txt") + "\nout = " + bad_out + "\nCould not open " +
                       bad_out + " for writing\n");

  r = run_program(BLOBXYZ, {dir.path("in.txt"), "/dev/full"});
  EXPECT_EQ(r.status, kFailure);
  EXPECT_NE(r.out.find("Could not write /dev/full: No space left on device\n"), std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find(kNoErrors), std::string::npos);
}

}  // namespace
}  // namespace kvtraj::testing

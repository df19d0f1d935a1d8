// kvt-mpi run by mpirun with 1, 2 and 3 ranks (oversubscribed on one machine): the KVT file
// must not depend on the number of ranks beyond rounding, and a failure on any rank must end
// every rank with one message, a failure status and no output file, within a time limit.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <cmath>
#include <cstdlib>
#include <string>

#include "kvt_io/kvt_io.hpp"
#include "tests/testsupport/testsupport.hpp"

namespace kvtraj {
namespace {

using testing::TempDir;

struct Outcome {
  int status = -1;
  std::string errors;
};

// mpirun as root, 3 ranks on 2 cores; `timeout` ends a hung job (status 124).
Outcome mpirun(const TempDir& dir, int ranks, const std::string& arguments) {
  const std::string errors = dir.path("stderr.txt");
  std::string command =
      "OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1 " RANK_ENVIRONMENT
      "timeout -k 5 120 " MPIEXEC " --oversubscribe -np ";
  command += std::to_string(ranks);
  command += " " KVT_MPI_PROGRAM " compress --threads 1 --quiet ";
  command += arguments;
  command += " > /dev/null 2> ";
  command += errors;
  const int raw = std::system(command.c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, testing::read_file(errors)};
}

double dot(const std::vector<float>& a, const std::vector<float>& b) {
  double sum = 0.0;
  for (std::size_t i = 0; i < a.size(); ++i) sum += static_cast<double>(a[i]) * b[i];
  return sum;
}

// The same analysis within `tolerance` (relative, on the eigenvalues); vectors and
// projections of the leading, well separated components agree up to sign.
void expect_same(const std::string& path, const std::string& reference, double tolerance) {
  const kvtfile a = kvtopen(20, reference), b = kvtopen(21, path);
  ASSERT_EQ(a.status, 0);
  ASSERT_EQ(b.status, 0) << path;
  ASSERT_EQ(b.nframes, a.nframes);
  ASSERT_EQ(b.nvecs, a.nvecs) << path;
  const auto avg_a = kvtavg(a), avg_b = kvtavg(b);
  for (std::size_t i = 0; i < avg_a.size(); ++i) EXPECT_NEAR(avg_b[i], avg_a[i], 1e-3) << i;
  const auto values_a = kvtevals(a), values_b = kvtevals(b);
  for (std::int32_t k = 0; k < a.nvecs; ++k) {
    EXPECT_NEAR(values_b[k], values_a[k], tolerance * values_a[k]) << path << " value " << k;
  }
  for (std::int32_t k = 1; k <= std::min(a.nvecs, 3); ++k) {
    const double cosine = dot(kvtevec(a, k), kvtevec(b, k));
    EXPECT_NEAR(std::abs(cosine), 1.0, 1e-3) << path << " vector " << k;
    const auto proj_a = kvtproj(a, k), proj_b = kvtproj(b, k);
    const double sign = cosine < 0 ? -1.0 : 1.0, scale = std::sqrt(values_a[k - 1]);
    for (std::int32_t f = 0; f < a.nframes; ++f) {
      ASSERT_NEAR(sign * proj_b[f], proj_a[f], 0.02 * scale) << path << " vector " << k;
    }
  }
}

class KvtMpi : public ::testing::Test {
 protected:
  // Compresses with 1, 2 and 3 ranks and compares the files with the one from 1 rank.
  void expect_independent_of_ranks(const std::string& input, const std::string& options,
                                   double tolerance) {
    const std::string one = dir_.path("1.kvt");
    for (int ranks = 1; ranks <= 3; ++ranks) {
      const std::string out = dir_.path(std::to_string(ranks) + ".kvt");
      const Outcome run = mpirun(dir_, ranks, input + " -o " + out + " " + options);
      ASSERT_EQ(run.status, 0) << run.errors;
      if (ranks > 1) expect_same(out, one, tolerance);
    }
  }
  TempDir dir_;
};

TEST_F(KvtMpi, ExactSolverGivesTheSameFileOnAnyNumberOfRanks) {
  expect_independent_of_ranks("-i " KVTRAJ_SAMPLE, "--solver exact --quality 95", 1e-5);
}

TEST_F(KvtMpi, RandomizedSolverAgreesWithinItsTolerance) {
  expect_independent_of_ranks("-i " KVTRAJ_SAMPLE, "--solver randomized --vectors 8", 1e-3);
  // Without fitting, the first Krylov pass also finds the average, summed over the ranks.
  expect_independent_of_ranks("-i " KVTRAJ_SAMPLE, "--solver randomized --vectors 8 --no-fit",
                              1e-3);
}

// Atoms kept from jumping depend on every frame before: each rank's chain of frames is stitched
// to the ranks before it, so water crossing the box edges is where one process puts it.
TEST_F(KvtMpi, AtomsKeptFromJumpingAreStitchedAcrossRanks) {
  const std::string water = testing::data_path("water/dodecahedron");
  expect_independent_of_ranks(
      "-i " + water + ".xtc --top " + water + ".psf --select 'resname SOL and index 1500:2399'",
      "--solver exact --vectors 4", 1e-5);
}

// Album members end at frames 170 and 330: inside the shares of 2 ranks (250) and 3 (166, 333).
// The album holds the same frames as the file, so the result is the file's too.
TEST_F(KvtMpi, AlbumMembersCrossingShareBoundaries) {
  const std::string list = dir_.path("album.txt");
  testing::write_file(
      list, KVTRAJ_SAMPLE "(1:170)\n" KVTRAJ_SAMPLE "(171:330)\n" KVTRAJ_SAMPLE "(331:500)\n");
  expect_independent_of_ranks("--album " + list, "--solver exact --vectors 6", 1e-5);
  const std::string single = dir_.path("single.kvt");
  ASSERT_EQ(
      mpirun(dir_, 1, "-i " KVTRAJ_SAMPLE " -o " + single + " --solver exact --vectors 6").status,
      0);
  expect_same(dir_.path("3.kvt"), single, 1e-5);
}

// Every rank has stopped (no time-out); rank 0 alone printed the one message; nothing is left
// in the output's place.
void expect_failure(const Outcome& run, const std::string& out, const std::string& message) {
  EXPECT_NE(run.status, 0);
  EXPECT_NE(run.status, 124) << "timed out";
  const std::string line = "kvt-mpi: " + message + "\n";
  const auto at = run.errors.find(line);
  EXPECT_NE(at, std::string::npos) << run.errors;
  EXPECT_EQ(run.errors.find("kvt-mpi: ", at + 1), std::string::npos) << run.errors;
  EXPECT_NE(std::system(("test -e " + out).c_str()), 0);
}

// Found when the album is opened, by every rank alike.
TEST_F(KvtMpi, MissingAlbumMemberStopsEveryRank) {
  const std::string list = dir_.path("album.txt"), out = dir_.path("out.kvt");
  const std::string gone = dir_.path("gone.dcd");
  testing::write_file(list, KVTRAJ_SAMPLE "\n" + gone + "\n");
  for (int ranks : {2, 3}) {
    expect_failure(mpirun(dir_, ranks, "--album " + list + " -o " + out), out,
                   gone + ": no such file?");
  }
}

// A wrong atom count in front of snapshot 9 of 10 is found only by the rank that reads it, during
// the first pass, while the others wait at its reduction.
TEST_F(KvtMpi, UnreadableFrameOnOneRankStopsEveryRank) {
  std::string bytes = testing::read_file(testing::data_path("peptide10.binpos"));
  constexpr std::size_t kFrameBytes = 4 + 200 * 12;
  ASSERT_EQ(bytes.size(), 4 + 10 * kFrameBytes);
  bytes[4 + 8 * kFrameBytes] = 7;
  const std::string broken = dir_.path("broken.binpos"), out = dir_.path("out.kvt");
  testing::write_file(broken, bytes);
  for (int ranks : {2, 3}) {
    expect_failure(mpirun(dir_, ranks, "-i " + broken + " -o " + out), out,
                   broken + ": snapshot 9 could not be read");
  }
}

}  // namespace
}  // namespace kvtraj

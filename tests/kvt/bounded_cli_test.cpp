// kvt compress --max-error as a user runs it: the summary, info's lines for KVT7, expanded
// frames within the error, and the refusals (one line, status 1, no file left behind).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>

#include "fmtreaders/fmtreaders.hpp"
#include "support/files.hpp"
#include "tests/testsupport/testsupport.hpp"
#include "trajsrc/trajsrc.hpp"

namespace kvtraj {
namespace {

using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using testing::run_program;
using testing::RunResult;
using testing::TempDir;

RunResult kvt(const std::vector<std::string>& args) {
  return run_program(KVT_PROGRAM, args);
}

std::vector<float> frames_of(const std::string& name) {
  f77_molfile_init();
  std::int32_t n = 0;
  trajectory t = xopen(name, n);
  std::vector<float> all, xyz(3 * static_cast<std::size_t>(n));
  for (std::int32_t i = 1; i <= t.nsnaps; ++i) {
    xsnap(t, xyz, i);
    all.insert(all.end(), xyz.begin(), xyz.end());
  }
  xclose(t);
  return all;
}

TEST(KvtBounded, CompressInfoAndExpandHoldTheError) {
  TempDir dir;
  const std::string in = std::string(KVTRAJ_SAMPLE) + "(1:120)", out = dir.path("s.kvt");
  const RunResult c = kvt({"compress", "-i", in, "-o", out, "--max-error", "0.05", "--quiet"});
  ASSERT_EQ(c.status, 0) << c.err;
  EXPECT_THAT(c.out, HasSubstr("120 snapshots, maximum error 0.05 Å"));
  const RunResult i = kvt({"info", out});
  EXPECT_THAT(i.out, HasSubstr("version KVT7"));
  EXPECT_THAT(i.out, HasSubstr("maximum error: 0.05 Å per coordinate"));
  EXPECT_THAT(i.out,
              ::testing::ContainsRegex(
                  "model [0-9.]+ %, transforms [0-9.]+ %, residuals [0-9.]+ %, index [0-9.]+ %"));
  const RunResult e =
      kvt({"expand", "-i", out, "-o", dir.path("x.dcd"), "--frames", "30:40", "--quiet"});
  ASSERT_EQ(e.status, 0) << e.err;
  const std::vector<float> back = frames_of(dir.path("x.dcd"));
  const std::vector<float> orig = frames_of(std::string(KVTRAJ_SAMPLE) + "(30:40)");
  ASSERT_EQ(back.size(), orig.size());
  double worst = 0.0;
  for (std::size_t k = 0; k < back.size(); ++k)
    worst = std::max(worst, std::fabs(double(back[k]) - orig[k]));
  EXPECT_LE(worst, 0.05);
  EXPECT_GT(worst, 0.0);
}

TEST(KvtBounded, BadErrorsAndDamagedFilesEndWithOneLine) {
  TempDir dir;
  const std::string out = dir.path("bad.kvt");
  for (const std::string e : {"-0.1", "abc", "0", "nan", "1e-12"}) {
    const RunResult r =
        kvt({"compress", "-i", KVTRAJ_SAMPLE, "-o", out, "--max-error", e, "--quiet"});
    EXPECT_EQ(r.status, 1) << e;
    EXPECT_THAT(r.err, MatchesRegex("kvt: [^\n]*\n")) << e;
    EXPECT_FALSE(file_exists(out)) << e;
  }
  const RunResult both =
      kvt({"compress", "-i", KVTRAJ_SAMPLE, "-o", out, "--max-error", "0.1", "--quality", "80"});
  EXPECT_EQ(both.status, 1);
  // A block damaged on disk: expand says so and leaves no output.
  ASSERT_EQ(kvt({"compress", "-i", std::string(KVTRAJ_SAMPLE) + "(1:20)", "-o", out, "--max-error",
                 "0.1", "--quiet"})
                .status,
            0);
  std::string bytes = testing::read_file(out);
  bytes[bytes.size() - 200] ^= 0x10;
  testing::write_file(out, bytes);
  const RunResult x = kvt({"expand", "-i", out, "-o", dir.path("x.dcd"), "--quiet"});
  EXPECT_EQ(x.status, 1);
  EXPECT_THAT(x.err, MatchesRegex("[^\n]*damaged[^\n]*\n"));
  EXPECT_FALSE(file_exists(dir.path("x.dcd")));
}

}  // namespace
}  // namespace kvtraj

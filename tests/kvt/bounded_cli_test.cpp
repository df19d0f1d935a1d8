// kvt compress --max-error as a user runs it: the summary, info's lines for KVT7, expanded
// frames within the error, and the refusals (one line, status 1, no file left behind).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>

#include "codec/codec.hpp"
#include "fmtreaders/fmtreaders.hpp"
#include "kvt_io/kvt_io.hpp"
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
  // convert reads the coded frames like any trajectory, frame selections included.
  for (const std::string sel : {"30:40", "2:110:9"}) {
    ASSERT_EQ(
        kvt({"expand", "-i", out, "-o", dir.path("e.dcd"), "--frames", sel, "--quiet"}).status, 0);
    const RunResult v = kvt({"convert", "-i", out + "(" + sel + ")", "-o", dir.path("v.dcd")});
    ASSERT_EQ(v.status, 0) << v.err;
    EXPECT_EQ(frames_of(dir.path("v.dcd")), frames_of(dir.path("e.dcd"))) << sel;
  }
  const RunResult beyond = kvt({"convert", "-i", out + "(100:121)", "-o", dir.path("b.dcd")});
  EXPECT_EQ(beyond.status, 1);
  EXPECT_THAT(beyond.err, MatchesRegex("kvt: [^\n]*beyond the file's 120 frames\n"));
}

double largest_difference(const std::vector<float>& a, const std::vector<float>& b) {
  EXPECT_EQ(a.size(), b.size());
  double worst = 0.0;
  for (std::size_t k = 0; k < a.size() && k < b.size(); ++k)
    worst = std::max(worst, std::fabs(double(a[k]) - b[k]));
  return worst;
}

// The coding plan of a KVT7 file, as its reader holds it.
codec::Plan plan_of(const std::string& path) {
  const kvtfile k = kvtopen(31, path);
  EXPECT_EQ(k.status, 0);
  return k.coded ? k.coded->plan : codec::Plan{};
}

TEST(KvtBounded, TopologySelectionRepairAndSolventShapeWhatIsCoded) {
  TempDir dir;
  const std::string xtc = testing::data_path("water/dodecahedron.xtc") + "(1:8)";
  const std::string gro = testing::data_path("water/dodecahedron.gro");
  // The peptide made whole is coded as Input delivers it: within E of convert's frames.
  const std::vector<std::string> pick = {"--top", gro, "--select", "protein", "--pbc", "whole"};
  std::vector<std::string> args = {"compress",        "-i",          xtc,    "-o",
                                   dir.path("p.kvt"), "--max-error", "0.02", "--quiet"};
  args.insert(args.end(), pick.begin(), pick.end());
  const RunResult c = kvt(args);
  ASSERT_EQ(c.status, 0) << c.err;
  EXPECT_THAT(c.out, HasSubstr("200 of 3038 atoms selected, periodic images: whole"));
  args = {"convert", "-i", xtc, "-o", dir.path("ref.dcd"), "--quiet"};
  args.insert(args.end(), pick.begin(), pick.end());
  ASSERT_EQ(kvt(args).status, 0);
  ASSERT_EQ(kvt({"expand", "-i", dir.path("p.kvt"), "-o", dir.path("p.dcd"), "--quiet"}).status, 0);
  const std::vector<float> ref = frames_of(dir.path("ref.dcd"));
  EXPECT_EQ(ref.size(), 8u * 200 * 3);
  EXPECT_LE(largest_difference(frames_of(dir.path("p.dcd")), ref), 0.02);
  EXPECT_EQ(kvtopen(32, dir.path("p.kvt")).atoms.size(), 200u);

  // The whole system: every water is coded from its own past, referring only inside itself.
  const auto solvated = [&](const std::string& out, std::vector<std::string> more) {
    std::vector<std::string> a = {"compress",    "-i",          xtc,    "-o",
                                  dir.path(out), "--top",       gro,    "--pbc",
                                  "none",        "--max-error", "0.05", "--quiet"};
    a.insert(a.end(), more.begin(), more.end());
    const RunResult r = kvt(a);
    EXPECT_EQ(r.status, 0) << r.err;
    return plan_of(dir.path(out));
  };
  const codec::Plan all = solvated("w.kvt", {});
  ASSERT_EQ(all.atoms.size(), 3038u);
  int referring_to_oxygen = 0;
  for (std::size_t a = 200; a < all.atoms.size(); ++a) {
    const codec::AtomPlan& p = all.atoms[a];
    EXPECT_TRUE(p.time_only) << a;
    for (int t = 0; t < 2; ++t) {
      for (int k = 0; k < p.nrefs[t]; ++k) {
        EXPECT_LE(p.refs[t][k].source, (a - 200) % 3) << a;
        referring_to_oxygen += p.refs[t][k].source == (a - 200) % 3 && (a - 200) % 3 > 0;
      }
    }
  }
  EXPECT_GT(referring_to_oxygen, 1000);
  ASSERT_EQ(kvt({"expand", "-i", dir.path("w.kvt"), "-o", dir.path("w.dcd"), "--quiet"}).status, 0);
  EXPECT_LE(largest_difference(frames_of(dir.path("w.dcd")), frames_of(xtc)), 0.05);
  // --solvent names the solvent instead: oxygens alone are groups of one atom.
  const codec::Plan oxygens = solvated("o.kvt", {"--solvent", "name OW"});
  for (std::size_t a = 200; a < oxygens.atoms.size(); a += 3) {
    EXPECT_TRUE(oxygens.atoms[a].time_only);
    for (int t = 0; t < 2; ++t) {
      for (int k = 0; k < oxygens.atoms[a].nrefs[t]; ++k)
        EXPECT_EQ(oxygens.atoms[a].refs[t][k].source, 0) << a;
    }
  }
  const RunResult bare = kvt({"compress", "-i", xtc, "-o", dir.path("b.kvt"), "--max-error", "0.05",
                              "--solvent", "name OW"});
  EXPECT_EQ(bare.status, 1);
  EXPECT_THAT(bare.err, MatchesRegex("kvt: --solvent needs a topology[^\n]*\n"));
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

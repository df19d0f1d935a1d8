// kvt as a user runs it: the bundled sample through compress, info, query, expand and convert,
// checked against the modules that read the results, and the error paths (one line on standard
// error, status 1, no output file left behind).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sstream>

#include "fmtreaders/fmtreaders.hpp"
#include "kvt_io/kvt_io.hpp"
#include "superpose/superpose.hpp"
#include "support/files.hpp"
#include "tests/testsupport/testsupport.hpp"
#include "trajsrc/trajsrc.hpp"

namespace kvtraj {
namespace {

using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using ::testing::Not;
using testing::run_program;
using testing::RunResult;
using testing::TempDir;

constexpr std::int32_t kAtoms = 200;

RunResult kvt(const std::vector<std::string>& args) {
  return run_program(KVT_PROGRAM, args);
}

std::string sample(std::string_view selection = "") {
  return std::string(KVTRAJ_SAMPLE) + std::string(selection);
}

// The number after `key` in `text`.
double number_after(const std::string& text, const std::string& key) {
  const auto at = text.find(key);
  EXPECT_NE(at, std::string::npos) << key << " not in " << text;
  return at == std::string::npos ? NAN : std::stod(text.substr(at + key.size()));
}

std::vector<std::vector<float>> read_frames(const std::string& path, std::int32_t natoms) {
  f77_molfile_init();
  std::int32_t n = natoms;
  trajectory traj = xopen(path, n);
  std::vector<std::vector<float>> frames;
  for (std::int32_t i = 1; i <= traj.nsnaps; ++i) {
    std::vector<float> xyz(3 * static_cast<std::size_t>(n));
    xsnap(traj, xyz, i);
    EXPECT_EQ(traj.status, 0);
    frames.push_back(std::move(xyz));
  }
  xclose(traj);
  return frames;
}

class Kvt : public ::testing::Test {
 protected:
  TempDir dir;
  std::string path(std::string_view name) const { return dir.path(name); }
};

TEST_F(Kvt, CompressKeepsTheVarianceAskedForAndTheFileHasTheKvt4Size) {
  const RunResult r = kvt({"compress", "-i", sample("(1:300)"), "-o", path("s.kvt"), "--quiet"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");  // the readers' texts only with --verbose, and never on standard output
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
  EXPECT_THAT(r.out, HasSubstr("200 atoms, 300 snapshots"));
  EXPECT_GE(number_after(r.out, "kept ("), 90.0);
  const RunResult verbose =
      kvt({"compress", "-i", sample("(1:300)"), "-o", path("v.kvt"), "--quiet", "--verbose"});
  EXPECT_THAT(verbose.err, HasSubstr("file type is dcd\nAttempting to open dcd file\n"));
  EXPECT_EQ(verbose.out.substr(verbose.out.find(':')), r.out.substr(r.out.find(':')));

  const kvtfile k = kvtopen(1, path("s.kvt"));
  ASSERT_EQ(k.status, 0);
  EXPECT_EQ(k.magic, "KVT4");
  EXPECT_EQ(k.natoms, kAtoms);
  EXPECT_EQ(k.nframes, 300);
  EXPECT_EQ(number_after(r.out, "snapshots, "), k.nvecs);
  const std::uint64_t n = 3 * kAtoms;
  EXPECT_EQ(std::filesystem::file_size(path("s.kvt")),
            116 + 4 * n + k.nvecs * (4 * n + 4 + 4 * 300));
  // The eigenvalues come largest first and capture at least 90 % of the recorded total.
  double sum = 0.0;
  for (std::int32_t i = 0; i < k.nvecs; ++i) {
    if (i > 0) {
      EXPECT_LE(k.evals[i], k.evals[i - 1]);
    }
    sum += k.evals[i];
  }
  EXPECT_GE(sum / k.quality, 0.9);
  EXPECT_LT((sum - k.evals.back()) / k.quality, 0.9);  // the fewest that reach it
}

// The summary's expected error is the RMS distance between the snapshots and their rebuilt
// forms; superposing each input snapshot on its rebuilt form can only lower it a little.
TEST_F(Kvt, RebuiltSnapshotsAreAsCloseAsTheSummarySays) {
  const RunResult r =
      kvt({"compress", "-i", sample("(1:200)"), "-o", path("s.kvt"), "--quality", "80", "--quiet"});
  ASSERT_EQ(r.status, 0) << r.err;
  const double expected = number_after(r.out, "expected RMS error ");
  ASSERT_GT(expected, 0.05);
  const kvtfile k = kvtopen(1, path("s.kvt"));
  const auto input = read_frames(sample("(1:200)"), kAtoms);
  ASSERT_EQ(input.size(), 200u);
  double sum = 0.0;
  for (std::int32_t i = 1; i <= 200; ++i) {
    const auto rebuilt = kvtsnap(k, i);
    std::array<float, 9> rot{};
    std::array<float, 3> trans{};
    float rms = 0.0f;
    superpose(kAtoms, rebuilt, input[i - 1], rot, trans, rms, 0);
    sum += double(rms) * rms;
  }
  const double actual = std::sqrt(sum / 200.0);
  EXPECT_LE(actual, expected * 1.01);
  EXPECT_GE(actual, expected * 0.85);
}

TEST_F(Kvt, VectorsQualityAndRmsdChooseTheCount) {
  ASSERT_EQ(
      kvt({"compress", "-i", sample("(1:100)"), "-o", path("v.kvt"), "--vectors", "7"}).status, 0);
  EXPECT_EQ(kvtopen(1, path("v.kvt")).nvecs, 7);

  const RunResult loose =
      kvt({"compress", "-i", sample("(1:100)"), "-o", path("a.kvt"), "--rmsd", "1.0"});
  const RunResult tight =
      kvt({"compress", "-i", sample("(1:100)"), "-o", path("b.kvt"), "--rmsd", "0.3"});
  ASSERT_EQ(loose.status, 0) << loose.err;
  ASSERT_EQ(tight.status, 0) << tight.err;
  EXPECT_LE(number_after(loose.out, "expected RMS error "), 1.0);
  EXPECT_LE(number_after(tight.out, "expected RMS error "), 0.3);
  EXPECT_LT(kvtopen(1, path("a.kvt")).nvecs, kvtopen(1, path("b.kvt")).nvecs);

  // 100 centred snapshots span at most 99 directions.
  const RunResult all =
      kvt({"compress", "-i", sample("(1:100)"), "-o", path("c.kvt"), "--quality", "100"});
  ASSERT_EQ(all.status, 0) << all.err;
  EXPECT_LE(kvtopen(1, path("c.kvt")).nvecs, 99);
}

TEST_F(Kvt, Kvt6StoresSixteenBitProjectionsWithinOneStep) {
  ASSERT_EQ(
      kvt({"compress", "-i", sample("(1:100)"), "-o", path("4.kvt"), "--vectors", "5"}).status, 0);
  ASSERT_EQ(
      kvt({"compress", "-i", sample("(1:100)"), "-o", path("6.kvt"), "--vectors", "5", "--kvt6"})
          .status,
      0);
  EXPECT_EQ(std::filesystem::file_size(path("6.kvt")),
            116 + 12 * 200 + 5 * (12 * 200 + 12 + 2 * 100));
  const kvtfile a = kvtopen(1, path("4.kvt")), b = kvtopen(1, path("6.kvt"));
  ASSERT_EQ(b.magic, "KVT6");
  EXPECT_EQ(a.evals, b.evals);
  EXPECT_EQ(a.evecs, b.evecs);
  for (std::int32_t k = 1; k <= 5; ++k) {
    const auto pa = kvtproj(a, k), pb = kvtproj(b, k);
    const auto [lo, hi] = std::minmax_element(pa.begin(), pa.end());
    const float step = (*hi - *lo) / 65534.0f;
    for (std::size_t i = 0; i < pa.size(); ++i) EXPECT_NEAR(pa[i], pb[i], step * 1.01f);
  }
}

TEST_F(Kvt, AlbumOfTwoHalvesEqualsTheWhole) {
  testing::write_file(path("list"), sample("(1:40)") + "\n" + sample("(41:80)") + "\n");
  ASSERT_EQ(
      kvt({"compress", "--album", path("list"), "-o", path("al.kvt"), "--vectors", "4"}).status, 0);
  ASSERT_EQ(
      kvt({"compress", "-i", sample("(1:80)"), "-o", path("one.kvt"), "--vectors", "4"}).status, 0);
  const kvtfile a = kvtopen(1, path("al.kvt")), b = kvtopen(1, path("one.kvt"));
  EXPECT_EQ(a.nframes, 80);
  EXPECT_EQ(a.evals, b.evals);
  EXPECT_EQ(a.proj, b.proj);
}

TEST_F(Kvt, QueryPrintsOneValuePerLine) {
  ASSERT_EQ(kvt({"compress", "-i", sample("(1:50)"), "-o", path("q.kvt"), "--vectors", "3"}).status,
            0);
  const kvtfile k = kvtopen(1, path("q.kvt"));
  const RunResult evals = kvt({"query", "-i", path("q.kvt"), "--evals"});
  ASSERT_EQ(evals.status, 0) << evals.err;
  std::istringstream lines(evals.out);
  for (float e : k.evals) {
    float v = 0;
    lines >> v;
    EXPECT_EQ(v, e);  // %.9g keeps every bit of a float
  }
  const RunResult snap = kvt({"query", "-i", path("q.kvt"), "--snap", "7", "--vectors", "2"});
  ASSERT_EQ(snap.status, 0) << snap.err;
  const auto want = kvtsnap(k, 7, 1, 2);
  char line[100];
  std::snprintf(line, sizeof line, "%.9g %.9g %.9g\n", want[0], want[1], want[2]);
  EXPECT_EQ(snap.out.substr(0, snap.out.find('\n') + 1), line);
  EXPECT_EQ(std::count(snap.out.begin(), snap.out.end(), '\n'), kAtoms);
  const RunResult maha = kvt({"query", "-i", path("q.kvt"), "--maha", "3"});
  EXPECT_EQ(std::count(maha.out.begin(), maha.out.end(), '\n'), 50);

  const RunResult bad = kvt({"query", "-i", path("q.kvt"), "--evec", "4"});
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.err, "kvt: --evec 4 is outside 1..3\n");
}

TEST_F(Kvt, ExpandWritesEveryFormatAndReadsBack) {
  ASSERT_EQ(kvt({"compress", "-i", sample("(1:30)"), "-o", path("e.kvt"), "--vectors", "4"}).status,
            0);
  const kvtfile k = kvtopen(1, path("e.kvt"));
  for (const char* name : {"e.dcd", "e.binpos", "e.crd"}) {
    const RunResult r =
        kvt({"expand", "-i", path("e.kvt"), "-o", path(name), "--frames", "5:25:10"});
    ASSERT_EQ(r.status, 0) << name << ": " << r.err;
    const auto frames = read_frames(path(name), kAtoms);
    ASSERT_EQ(frames.size(), 3u) << name;
    const float tolerance = std::string(name) == "e.crd" ? 0.0005f : 0.0f;
    for (int j = 0; j < 3; ++j) {
      const auto want = kvtsnap(k, 5 + 10 * j);
      for (std::size_t i = 0; i < want.size(); ++i) {
        ASSERT_NEAR(frames[j][i], want[i], tolerance) << name << " frame " << j;
      }
    }
  }
}

// Frames of an AMBER file with box lines, read as such: coordinates and the boxes.
std::vector<std::vector<float>> read_crdbox(const std::string& path, std::int32_t natoms,
                                            std::vector<std::array<float, 6>>& boxes) {
  f77_molfile_init();
  std::int32_t handle = 0, n = natoms, status = 0;
  f77_molfile_open_read(handle, n, path, "crdbox");
  std::vector<std::vector<float>> frames;
  std::vector<float> xyz(3 * static_cast<std::size_t>(natoms));
  std::array<float, 6> box{};
  for (;;) {
    f77_molfile_read_next(handle, natoms, xyz, box, status);
    if (status != 1) break;
    frames.push_back(xyz);
    boxes.push_back(box);
  }
  f77_molfile_close_read(handle, status);
  return frames;
}

TEST_F(Kvt, ConvertCarriesCoordinatesAndBoxes) {
  const std::string box_dcd = testing::data_path("peptide10_box.dcd") + "(2:9)";
  const auto original = read_frames(box_dcd, kAtoms);
  ASSERT_EQ(kvt({"convert", "-i", box_dcd, "-o", path("b.dcd")}).status, 0);
  EXPECT_THAT(kvt({"info", path("b.dcd")}).out, HasSubstr("box:    yes"));
  EXPECT_EQ(read_frames(path("b.dcd"), kAtoms), original);

  const RunResult r = kvt({"convert", "-i", box_dcd, "-o", path("b.crd")});
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::array<float, 6>> boxes;
  const auto crd = read_crdbox(path("b.crd"), kAtoms, boxes);
  ASSERT_EQ(crd.size(), 8u);
  for (std::size_t f = 0; f < crd.size(); ++f) {
    for (std::size_t i = 0; i < crd[f].size(); ++i) ASSERT_NEAR(crd[f][i], original[f][i], 5e-4f);
    EXPECT_NEAR(boxes[f][0], 47.66f, 1e-3f);
    EXPECT_NEAR(boxes[f][1], 53.96f, 1e-3f);
    EXPECT_NEAR(boxes[f][2], 47.42f, 1e-3f);
  }
  // DCD -> DCD without a box keeps every bit.
  ASSERT_EQ(kvt({"convert", "-i", sample("(3:9)"), "-o", path("p.dcd")}).status, 0);
  EXPECT_EQ(read_frames(path("p.dcd"), kAtoms), read_frames(sample("(3:9)"), kAtoms));
}

TEST_F(Kvt, BadInputEndsWithOneLineAndNoOutput) {
  struct Case {
    std::vector<std::string> args;
    std::string message;  // regex of the line on standard error (empty: a module's message)
  };
  const std::string out = path("out.kvt");
  const std::vector<Case> cases = {
      {{"compress", "-i", sample("(1:50)"), "-o", out, "--vectors", "60"},
       "kvt: --vectors 60 is more than the 49 vectors these snapshots hold\n"},
      {{"compress", "-i", sample(), "-o", out, "--quality", "120"},
       "kvt: --quality must be a percentage from 0 to 100\n"},
      {{"compress", "-i", sample(), "-o", out, "--vectors", "2", "--rmsd", "1"},
       "kvt: give only one of --vectors, --quality and --rmsd\n"},
      {{"compress", "-i", sample(), "-o", out, "--vectros", "2"},
       "kvt: unknown option --vectros \\(see --help\\)\n"},
      {{"compress", "-i", sample(), "-o", "/nonexistent-dir/x.kvt", "--vectors", "2"}, ""},
      {{"compress", "-o", out}, "kvt: -i is missing: give an input trajectory\n"},
      {{"compress", "-i", sample(), "-o", out, "--solver", "randomized", "--memory", "1"},
       "kvt: pca: a memory budget of 1 MiB is too small for the randomized solver .*\n"},
      {{"compress", "-i", sample(), "--album", sample(), "-o", out},
       "kvt: give either -i or --album, not both\n"},
      {{"expand", "-i", sample(), "-o", path("x.xyz")},
       "kvt: .*x.xyz: unknown output format \\(use .dcd, .binpos, .crd, .crdbox, .xtc, .trr or "
       ".nc\\)\n"},
      {{"frobnicate"}, "kvt: unknown command frobnicate \\(see kvt --help\\)\n"},
      {{"convert", "-i", sample("(1:3)"), "-o", path("x.dcd"), "--precision", "100"},
       "kvt: --precision applies to .xtc output only\n"},
      {{"expand", "-i", sample(), "-o", path("x.xtc"), "--precision", "0"},
       "kvt: --precision must be a positive number of grid steps per nm\n"},
  };
  for (const Case& c : cases) {
    const RunResult r = kvt(c.args);
    EXPECT_EQ(r.status, 1) << c.args[0] << " " << c.message;
    if (!c.message.empty()) {
      EXPECT_THAT(r.err, MatchesRegex(c.message));
    }
    EXPECT_FALSE(std::filesystem::exists(out)) << c.message;
  }
  // Missing files and selections beyond the file end with the readers' own messages.
  const RunResult missing = kvt({"compress", "-i", path("none.dcd"), "-o", out});
  EXPECT_EQ(missing.status, 1);
  EXPECT_THAT(missing.err, HasSubstr("none.dcd: no such file?"));
  const RunResult beyond = kvt({"compress", "-i", sample("(600:700)"), "-o", out});
  EXPECT_EQ(beyond.status, 1);
  EXPECT_THAT(beyond.err, HasSubstr("only contains 500 frames"));
  EXPECT_EQ(beyond.out, "");
  EXPECT_FALSE(std::filesystem::exists(out));
  // Only the temporary files' directory entries are left: none.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.root()), {}), 0);
}

TEST_F(Kvt, XtcOutputKeepsItsPrecisionAndInfoNamesIt) {
  const RunResult gmx = kvt({"info", testing::data_path("gmx_peptide10_ndec2.xtc")});
  EXPECT_THAT(gmx.out, HasSubstr("trajectory, GROMACS XTC"));
  EXPECT_THAT(gmx.out, HasSubstr("precision: 100 grid steps per nm (0.1 Å)\n"));
  EXPECT_THAT(gmx.out, HasSubstr("frames: 10\n"));
  const RunResult convert = kvt(
      {"convert", "-i", sample("(1:20)"), "-o", path("x.xtc"), "--precision", "100", "--quiet"});
  ASSERT_EQ(convert.status, 0) << convert.err;
  EXPECT_THAT(kvt({"info", path("x.xtc")}).out, HasSubstr("precision: 100 grid steps per nm"));
  const auto got = read_frames(path("x.xtc"), kAtoms);
  const auto want = read_frames(sample("(1:20)"), kAtoms);
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t f = 0; f < got.size(); ++f) {
    for (std::size_t k = 0; k < got[f].size(); ++k) {
      ASSERT_NEAR(got[f][k], want[f][k], 0.0501f) << f << " " << k;  // half of 0.1 Å
    }
  }
}

// A DCD cut inside its last frame: described by info, refused by compress and convert.
TEST_F(Kvt, TruncatedTrajectoryIsAnError) {
  const std::string dcd = testing::read_file(testing::data_path("peptide10.dcd"));
  testing::write_file(path("cut.dcd"), dcd.substr(0, dcd.size() - 100));
  const RunResult info = kvt({"info", path("cut.dcd")});
  EXPECT_EQ(info.status, 0);
  EXPECT_THAT(info.out, HasSubstr("frames: 9\n"));
  EXPECT_THAT(info.out, HasSubstr("truncated: the file ends inside frame 10\n"));
  for (const char* command : {"compress", "convert"}) {
    const RunResult r = kvt({command, "-i", path("cut.dcd"), "-o", path("out.dcd")});
    EXPECT_EQ(r.status, 1) << command;
    EXPECT_THAT(r.err,
                MatchesRegex("kvt: .*cut.dcd: the file ends inside a frame \\(truncated\\?\\)\n"));
    EXPECT_FALSE(std::filesystem::exists(path("out.dcd")));
  }
  // The whole file is not cut.
  EXPECT_THAT(kvt({"info", testing::data_path("peptide10.dcd")}).out, Not(HasSubstr("truncated")));
  // Neither are frames after a damaged one passed over as if the file ended there.
  std::string damaged = dcd;
  damaged.replace(276 + 4 * 2424, 4, "\xff\xff\xff\x7f");  // the first marker of frame 5
  testing::write_file(path("damaged.dcd"), damaged);
  const RunResult r = kvt({"compress", "-i", path("damaged.dcd"), "-o", path("d.kvt")});
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr("damaged.dcd: the file ends inside a frame"));
}

// A disk that fills up part-way: the write fails, the old file stays, nothing else is left.
TEST_F(Kvt, FailedWriteKeepsTheExistingFile) {
  testing::write_file(path("keep.kvt"), "precious");
  testing::write_file(path("keep.dcd"), "precious");
  const std::vector<std::vector<std::string>> commands = {
      {"compress", "-i", sample("(1:50)"), "-o", path("keep.kvt"), "--vectors", "20"},
      {"convert", "-i", sample("(1:50)"), "-o", path("keep.dcd")}};
  for (const auto& args : commands) {
    const RunResult r = run_program(KVT_PROGRAM, args, "", 20000);
    EXPECT_EQ(r.status, 1) << args[0];
    EXPECT_THAT(r.err, MatchesRegex("kvt: .*\n")) << args[0];
  }
  EXPECT_EQ(testing::read_file(path("keep.kvt")), "precious");
  EXPECT_EQ(testing::read_file(path("keep.dcd")), "precious");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.root()), {}), 2);
}

TEST_F(Kvt, HelpAndInfo) {
  const RunResult help = kvt({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_THAT(help.out, HasSubstr("compress"));
  EXPECT_THAT(kvt({"compress", "--help"}).out, HasSubstr("--rmsd A"));
  EXPECT_EQ(kvt({}).status, 1);

  ASSERT_EQ(kvt({"compress", "-i", sample("(1:50)"), "-o", path("i.kvt"), "--vectors", "3",
                 "--title", "my run"})
                .status,
            0);
  const RunResult info = kvt({"info", path("i.kvt")});
  ASSERT_EQ(info.status, 0) << info.err;
  EXPECT_THAT(info.out, HasSubstr("version KVT4"));
  EXPECT_THAT(info.out, HasSubstr("title:     my run"));
  EXPECT_THAT(info.out, HasSubstr("vectors:   3"));
  const RunResult traj = kvt({"info", sample()});
  EXPECT_THAT(traj.out, HasSubstr("frames: 500"));
  EXPECT_THAT(traj.out, HasSubstr("box:    no"));
}

}  // namespace
}  // namespace kvtraj

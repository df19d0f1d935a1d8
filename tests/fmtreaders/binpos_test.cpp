// binpos: MDTraj's file against the reference, and crafted files with a box, a single frame,
// a different atom count and truncation.
#include <gtest/gtest.h>

#include "tests/fmtreaders/reader_fixture.hpp"

namespace kvtraj {
namespace {

using namespace kvtraj::testing;

using Binpos = ReaderTest;

TEST_F(Binpos, PeptideMatchesTheReference) {
  std::int32_t natoms = kPeptideAtoms;
  const std::int32_t h = open(data_path("peptide10.binpos"), "auto", natoms);
  EXPECT_EQ(out, "file type is binpos\nAttempting to open binpos file\n");
  EXPECT_EQ(f77_molfile_type(h), kTypeBinpos);
  const std::vector<float> ref = reference("peptide10.ref.f32");
  for (int f = 0; f < kPeptideFrames; ++f) {
    ASSERT_EQ(read(h, kPeptideAtoms), 1) << f;
    const auto at = ref.begin() + 3L * kPeptideAtoms * f;
    EXPECT_EQ(coords, std::vector<float>(at, at + 3L * kPeptideAtoms)) << f;
  }
  EXPECT_EQ(read(h, kPeptideAtoms), 0);
}

TEST_F(Binpos, OtherAtomCountResetsNatomsWithAWarning) {
  write_file(dir.path("p.binpos"), pattern_binpos(3, 2, false));
  std::int32_t natoms = 50;
  open(dir.path("p.binpos"), "binpos", natoms);
  EXPECT_EQ(natoms, 3);
  EXPECT_EQ(out, "Attempting to open binpos file\nWarning: binpos file resetting natoms to 3\n");
}

TEST_F(Binpos, BoxAfterEachFrameIsDetectedAndDelivered) {
  for (int frames : {1, 3}) {
    std::int32_t natoms = 2;
    write_file(dir.path("b.binpos"), pattern_binpos(2, frames, true));
    const std::int32_t h = open(dir.path("b.binpos"), "auto", natoms);
    EXPECT_EQ(out, "file type is binpos\nAttempting to open binpos file\nbinpos file has box\n");
    EXPECT_EQ(f77_molfile_type(h), kTypeBinposBox);
    EXPECT_TRUE(f77_molfile_has_box(h));
    for (int f = 1; f <= frames; ++f) {
      ASSERT_EQ(read(h, 2), 1) << f;
      EXPECT_EQ(coords, pattern_frame(2, f));
      EXPECT_EQ(box, (std::array<float, 6>{1.0f * f, 2.0f * f, 3.0f * f, 90, 90, 90}));
    }
    EXPECT_EQ(read(h, 2), 0);
  }
}

TEST_F(Binpos, SingleFrameWithoutBoxReadsOnce) {
  const std::int32_t h = open_bytes("one.binpos", pattern_binpos(4, 1, false));
  EXPECT_EQ(f77_molfile_type(h), kTypeBinpos);
  ASSERT_EQ(read(h, 4), 1);
  EXPECT_EQ(coords, pattern_frame(4, 1));
  EXPECT_EQ(read(h, 4), 0);
}

TEST_F(Binpos, TruncatedOrInconsistentFramesAreNotRead) {
  std::string bytes = pattern_binpos(2, 3, false);
  std::int32_t h = open_bytes("cut.binpos", bytes.substr(0, bytes.size() - 5));
  EXPECT_EQ(read(h, 2), 1);
  EXPECT_EQ(read(h, 2), 1);
  EXPECT_EQ(read(h, 2), 0);
  // The second frame claims another atom count: the layout is lost from there on.
  bytes = pattern_binpos(2, 3, false);
  bytes[4 + 28] = 5;
  h = open_bytes("odd.binpos", bytes);
  EXPECT_EQ(read(h, 2), 1);
  EXPECT_EQ(read(h, 2), 0);
  h = open_bytes("n.binpos", pattern_binpos(2, 2, false));
  EXPECT_EQ(read(h, 3), 0);  // a caller's natoms that is not the file's
}

TEST_F(Binpos, SkippingSeeksOverWholeFrames) {
  const std::int32_t h = open_bytes("s.binpos", pattern_binpos(2, 5, true));
  EXPECT_EQ(f77_molfile_skip_next(h, 2, 2), 2);
  ASSERT_EQ(read(h, 2), 1);
  EXPECT_EQ(coords, pattern_frame(2, 3));
  EXPECT_EQ(f77_molfile_skip_next(h, 2, 10), 2);
  EXPECT_EQ(read(h, 2), 0);
}

// Opening without capturing standard output, for the fatal paths.
void open_binpos_file(const std::string& path) {
  std::int32_t handle = 0, natoms = 0;
  f77_molfile_open_read(handle, natoms, path, "binpos");
}

TEST_F(Binpos, BadFilesAreFatal) {
  write_file(dir.path("magic.binpos"), "fxyq" + pattern_binpos(1, 1, false).substr(4));
  KVTRAJ_EXPECT_FATAL(open_binpos_file(dir.path("magic.binpos")),
                      "^Attempting to open binpos file\nError - bad binpos file\n$");
  write_file(dir.path("huge.binpos"), Bytes().raw("fxyz").i32(100000000).f32(1).str());
  KVTRAJ_EXPECT_FATAL(open_binpos_file(dir.path("huge.binpos")), "Error - bad binpos file\n$");
  write_file(dir.path("neg.binpos"), Bytes().raw("fxyz").i32(-3).str());
  KVTRAJ_EXPECT_FATAL(open_binpos_file(dir.path("neg.binpos")), "Error - bad binpos file\n$");
  write_file(dir.path("bare.binpos"), "fxyz");
  KVTRAJ_EXPECT_FATAL(open_binpos_file(dir.path("bare.binpos")), "Error - bad binpos file\n$");
}

}  // namespace
}  // namespace kvtraj

namespace kvtraj {
namespace {

using namespace kvtraj::testing;

using CutFiles = ReaderTest;

// Files cut inside a frame tell so once their whole frames are passed; whole files do not.
TEST_F(CutFiles, DcdAndBinposCutInsideAFrameAreRecognised) {
  for (const char* name : {"peptide10.dcd", "peptide10.binpos"}) {
    const std::string bytes = read_file(data_path(name));
    const std::string ext = std::string(name).substr(std::string(name).find('.'));
    for (const bool cut : {false, true}) {
      const std::string path = dir.path(std::string(cut ? "cut" : "whole") + ext);
      write_file(path, cut ? bytes.substr(0, bytes.size() - 7) : bytes);
      std::int32_t natoms = kPeptideAtoms;
      const std::int32_t h = open(path, "auto", natoms);
      EXPECT_EQ(f77_molfile_skip_next(h, kPeptideAtoms, 100), cut ? 9 : 10) << path;
      EXPECT_EQ(f77_molfile_cut_inside_frame(h), cut) << path;
    }
  }
  EXPECT_FALSE(f77_molfile_cut_inside_frame(51 + 49));
  EXPECT_FALSE(f77_molfile_cut_inside_frame(-1));
}

}  // namespace
}  // namespace kvtraj

// xopen: names with selections, type detection (extension, then the distance test for AMBER
// files), frame counting, the selection cut to the file, and the fatal paths.
#include <gtest/gtest.h>

#include "tests/trajsrc/traj_fixture.hpp"

namespace kvtraj {
namespace {

using namespace kvtraj::testing;

using Open = TrajTest;

TEST_F(Open, SelectionOnADcdOfHundredFrames) {
  const std::string path = put("run.dcd", pattern_dcd(2, 100));
  trajectory t = open(path + "(10:50:5)");
  EXPECT_EQ(out,
            "file type is dcd\nAttempting to open dcd file\n"
            "Warning: dcd file resetting natoms to 2\n");
  EXPECT_EQ(t.name, path);
  EXPECT_EQ(t.type, "auto");
  EXPECT_GT(t.unit, 50);
  EXPECT_EQ(t.status, 0);
  EXPECT_EQ(t.natoms, 2);
  EXPECT_EQ(t.first, 10);
  EXPECT_EQ(t.last, 50);
  EXPECT_EQ(t.stride, 5);
  EXPECT_EQ(t.nsnaps, 9);
  EXPECT_EQ(t.next, 101);
  EXPECT_EQ(t.box, (std::array<float, 6>{}));
  // The first request reopens the file and delivers frame 10.
  ASSERT_EQ(snap(t, 1), 0);
  EXPECT_EQ(out, "file type is dcd\nAttempting to open dcd file\n");
  EXPECT_EQ(coords, pattern_frame(2, 10));
  EXPECT_EQ(t.next, 11);
}

TEST_F(Open, SingleFrameAndWholeFileSelections) {
  const std::string path = put("run.dcd", pattern_dcd(2, 7));
  trajectory t = open(path + "(3)", 2);
  EXPECT_EQ(t.nsnaps, 1);
  ASSERT_EQ(snap(t, 1), 0);
  EXPECT_EQ(coords, pattern_frame(2, 3));
  EXPECT_EQ(snap(t, 2), -2);
  t = open(path + "  ", 2);
  EXPECT_EQ(t.nsnaps, 7);
  EXPECT_EQ(t.last, 7);
  t = open(path + "(::3)", 2);
  EXPECT_EQ(t.nsnaps, 3);  // frames 1, 4, 7
}

TEST_F(Open, NatomsComesBackAsTheLargerCount) {
  const std::string path = put("run.binpos", pattern_binpos(3, 4, true));
  std::int32_t natoms = 10;
  trajectory t = open_with(path, natoms);
  EXPECT_EQ(natoms, 10);
  EXPECT_EQ(t.natoms, 3);
  EXPECT_EQ(t.nsnaps, 4);
  EXPECT_TRUE(f77_molfile_has_box(t.unit));
  natoms = 1;
  open_with(path, natoms);
  EXPECT_EQ(natoms, 3);
}

TEST_F(Open, SelectionBeyondTheFileIsCutOrFatal) {
  const std::string path = put("run.dcd", pattern_dcd(2, 20));
  trajectory t = open(path + "(5:200:5)", 2);
  EXPECT_EQ(out, "file type is dcd\nAttempting to open dcd file\nWarning: " + path +
                     " only contains 20 frames\n");
  EXPECT_EQ(t.last, 20);
  EXPECT_EQ(t.nsnaps, 4);
  xclose(t);
  // A caller that catches the fatal condition keeps no handle of the failed open: more failures
  // than there are handles leave the table free.
  for (int k = 0; k <= kHandleSlots; ++k) {
    KVTRAJ_EXPECT_FATAL(xopen(path + "(21:)", t.natoms),
                        "Error: .*/run.dcd only contains 20 frames\n$");
  }
  EXPECT_EQ(handcom()[0], 0);
}

TEST_F(Open, SyntaxErrorsAndMissingFilesAreFatal) {
  std::int32_t natoms = 0;
  KVTRAJ_EXPECT_FATAL(xopen("run.x(1:2:3:4)", natoms), "^run.x\\(1:2:3:4\\): syntax error\n$");
  KVTRAJ_EXPECT_FATAL(xopen("run.x(a)", natoms), "^run.x\\(a\\): syntax error\n$");
  KVTRAJ_EXPECT_FATAL(xopen("run.x(0)", natoms), "^run.x\\(0\\): syntax error\n$");
  KVTRAJ_EXPECT_FATAL(xopen("run.x(1:9:0)", natoms), "^run.x\\(1:9:0\\): syntax error\n$");
  KVTRAJ_EXPECT_FATAL(xopen("run.x(1:99999999999)", natoms), "syntax error\n$");
  KVTRAJ_EXPECT_FATAL(xopen(dir.path("absent.dcd") + "(1:5)", natoms),
                      "^.*/absent.dcd: no such file\\?\n$");
}

TEST_F(Open, AmberWithBoxLinesAndAnUnknownExtensionIsFoundByDistance) {
  trajectory t = open(data_path("peptide10_box.mdcrd"), kPeptideAtoms);
  EXPECT_EQ(out,
            "Unrecognised file type\nTrying AMBER...\n"
            "Attempting to open crd or crdbox file\nAttempting to open crd or crdbox file\n");
  EXPECT_EQ(t.type, "crdbox");
  EXPECT_EQ(t.nsnaps, 10);
  EXPECT_EQ(t.next, 11);
  const std::vector<float> ref = reference("peptide10.ref.f32");
  ASSERT_EQ(snap(t, 4), 0);
  for (std::size_t i = 0; i < coords.size(); ++i) {
    ASSERT_NEAR(coords[i], ref[3 * kPeptideAtoms * 3 + i], 0.0005f) << i;
  }
  EXPECT_NEAR(t.box[0], 47.66f, 1e-4f);
  EXPECT_NEAR(t.box[2], 47.40f, 1e-4f);
}

TEST_F(Open, AmberWithoutBoxStaysCrd) {
  trajectory t = open(data_path("peptide10.mdcrd"), kPeptideAtoms);
  EXPECT_EQ(out,
            "Unrecognised file type\nTrying AMBER...\nAttempting to open crd or crdbox file\n");
  EXPECT_EQ(t.type, "crd");
  EXPECT_EQ(t.nsnaps, 10);
  EXPECT_EQ(t.natoms, kPeptideAtoms);
}

TEST_F(Open, OneAtomFileNeverReadsASecondAtom) {
  const std::string path = put("one.txt", amber_text({{1, 2, 3}, {1.5f, 2, 3}, {2, 2, 3}}));
  trajectory t = open(path, 1);
  EXPECT_EQ(t.type, "crd");
  EXPECT_EQ(t.nsnaps, 3);
  ASSERT_EQ(snap(t, 2), 0);
  EXPECT_EQ(coords, (std::vector<float>{1.5f, 2, 3}));
}

TEST_F(Open, AmberFileOfOneFrameCountsOne) {
  const std::string path = put("single.txt", amber_text({{1, 2, 3, 4, 5, 6}}));
  trajectory t = open(path, 2);
  EXPECT_EQ(t.type, "crd");
  EXPECT_EQ(t.nsnaps, 1);
}

TEST_F(Open, AmberExtensionUsesTheCallersAtomCount) {
  const std::string path = put("a.crd", amber_text({{1, 2, 3}, {4, 5, 6}}));
  std::int32_t natoms = 1;
  trajectory t = open_with(path, natoms);
  EXPECT_EQ(t.natoms, 1);
  EXPECT_EQ(natoms, 1);
  EXPECT_EQ(t.nsnaps, 2);
}

TEST_F(Open, UnreadableAmberFilesAreFatal) {
  std::int32_t natoms = 0;
  const std::string plain = put("plain.txt", amber_text({{1, 2, 3}}));
  KVTRAJ_EXPECT_FATAL(
      xopen(plain, natoms),
      "Unrecognised file type\nError - need to know number of atoms per snapshot\n$");
  natoms = 1;
  const std::string bad = put("bad.txt", "title\nnot numbers\n");
  KVTRAJ_EXPECT_FATAL(xopen(bad, natoms), "Problem with trajectory file .*/bad.txt\n$");
  // Distances that change from frame to frame whichever way the file is read.
  natoms = 2;
  const std::string odd = put(
      "odd.txt",
      amber_text({{0, 0, 0, 1, 0, 0}, {0, 0, 0, 5, 0, 0}, {0, 0, 0, 9, 0, 0}, {0, 0, 0, 2, 0, 0}}));
  KVTRAJ_EXPECT_FATAL(xopen(odd, natoms), "Error - unrecognised format file .*/odd.txt\n$");
  natoms = 100000000;  // a frame this large cannot be in the file: nothing is allocated for it
  KVTRAJ_EXPECT_FATAL(xopen(plain, natoms), "Problem with trajectory file .*/plain.txt\n$");
}

TEST_F(Open, CountStopsWhereReadingWould) {
  std::string bytes = pattern_dcd(2, 5);
  bytes[dcd_header(2).size() + dcd_frame(pattern_frame(2, 1)).size()] ^= 1;  // frame 2's marker
  trajectory t = open(put("damaged.dcd", bytes));
  EXPECT_EQ(t.nsnaps, 1);
  ASSERT_EQ(snap(t, 1), 0);
  EXPECT_EQ(coords, pattern_frame(2, 1));
}

TEST_F(Open, AmberFileSmallerThanAFrameFailsAfterTheProbeMessages) {
  const std::string path = put("title.txt", "title only\n");
  std::int32_t natoms = 1000;
  KVTRAJ_EXPECT_FATAL(xopen(path, natoms),
                      "^Unrecognised file type\nTrying AMBER\\.\\.\\.\n"
                      "Attempting to open crd or crdbox file\n"
                      "Problem with trajectory file .*/title.txt\n$");
}

TEST_F(Open, SelectionOfATrrFile) {
  trajectory t = open(data_path("peptide10_gmx.trr") + "(2:9:3)");
  EXPECT_EQ(t.nsnaps, 3);  // frames 2, 5, 8
  const std::vector<float> ref = reference("peptide10_gmx_trr.ref.f32");
  ASSERT_EQ(snap(t, 2), 0);
  const float* want = ref.data() + 4 * (3 * kPeptideAtoms + 6);
  for (std::size_t i = 0; i < coords.size(); ++i) ASSERT_FLOAT_EQ(coords[i], want[i]) << i;
}

TEST_F(Open, OnlyTheTextAfterTheFirstDotNamesTheType) {
  // "1.nc" is no type: the file goes to the AMBER test as before NetCDF was known.
  trajectory t = open(put("run.1.nc", amber_text({{1, 2, 3}, {4, 5, 6}})), 1);
  EXPECT_EQ(t.type, "crd");
  EXPECT_EQ(t.nsnaps, 2);
}

TEST_F(Open, EmptySelectionOfAnEmptyFileIsFatal) {
  const std::string path = put("empty.dcd", dcd_header(2));
  std::int32_t natoms = 2;
  KVTRAJ_EXPECT_FATAL(xopen(path, natoms), "Error: .*/empty.dcd only contains 0 frames\n$");
}

}  // namespace
}  // namespace kvtraj

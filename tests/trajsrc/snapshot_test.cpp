// xsnap and xclose: snapshots in order and out of order, requests outside the selection,
// boxes, and frames that cannot be read.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>

#include "tests/trajsrc/traj_fixture.hpp"

namespace kvtraj {
namespace {

using namespace kvtraj::testing;

using Snap = TrajTest;

TEST_F(Snap, InOrderRequestsReadEachFrameOnceWithoutReopening) {
  trajectory t = open(put("run.dcd", pattern_dcd(3, 6)), 3);
  ASSERT_EQ(snap(t, 1), 0);  // xopen left the file after its last frame
  EXPECT_EQ(out, "file type is dcd\nAttempting to open dcd file\n");
  for (int i = 2; i <= 3; ++i) {
    ASSERT_EQ(snap(t, i), 0);
    EXPECT_EQ(out, "");
    EXPECT_EQ(coords, pattern_frame(3, i));
  }
  ASSERT_EQ(snap(t, 5), 0);  // forwards past frame 4
  EXPECT_EQ(out, "");
  EXPECT_EQ(coords, pattern_frame(3, 5));
  ASSERT_EQ(snap(t, 1), 0);  // backwards: reopened
  EXPECT_EQ(out, "file type is dcd\nAttempting to open dcd file\n");
  EXPECT_EQ(coords, pattern_frame(3, 1));
  EXPECT_EQ(open_handles(), 1);
}

TEST_F(Snap, RequestsOutsideTheSelectionReadNothing) {
  trajectory t = open(put("run.dcd", pattern_dcd(2, 10)) + "(2:8:3)", 2);
  ASSERT_EQ(t.nsnaps, 3);
  EXPECT_EQ(snap(t, 4), -2);
  EXPECT_EQ(coords, std::vector<float>(6, -7.0f));
  EXPECT_EQ(snap(t, 0), -2);
  EXPECT_EQ(snap(t, -5), -2);
  ASSERT_EQ(snap(t, 3), 0);
  EXPECT_EQ(coords, pattern_frame(2, 8));
}

// Every snapshot in a shuffled order gives what the in-order reading gives.
void expect_any_order_agrees(trajectory& t, std::vector<float> (*frame)(int)) {
  std::vector<int> order(static_cast<std::size_t>(t.nsnaps));
  std::iota(order.begin(), order.end(), 1);
  std::shuffle(order.begin(), order.end(), std::mt19937(7));
  for (int i : order) {
    std::vector<float> coords(3 * static_cast<std::size_t>(t.natoms));
    ::testing::internal::CaptureStdout();
    xsnap(t, coords, i);
    ::testing::internal::GetCapturedStdout();
    ASSERT_EQ(t.status, 0) << i;
    EXPECT_EQ(coords, frame(t.first + (i - 1) * t.stride)) << i;
  }
}

TEST_F(Snap, AnyOrderAgreesForEveryFormat) {
  const auto dcd_frame = [](int f) { return pattern_frame(3, f); };
  trajectory t = open(put("run.dcd", pattern_dcd(3, 30)) + "(2:29:3)", 3);
  expect_any_order_agrees(t, dcd_frame);
  t = open(put("run.binpos", pattern_binpos(3, 30, true)) + "(::2)", 3);
  expect_any_order_agrees(t, dcd_frame);
  std::vector<std::vector<float>> frames;
  for (int f = 1; f <= 12; ++f) frames.push_back({1.0f * f, 2, 3, 4, 5, 6.0f * f});
  static std::vector<std::vector<float>> amber_frames;
  amber_frames = frames;
  t = open(put("run.crd", amber_text(frames)), 2);
  expect_any_order_agrees(t, [](int f) { return amber_frames[static_cast<std::size_t>(f - 1)]; });
  // XTC: backward steps reopen the file and jump to the frame by the starts found at open.
  static std::vector<std::vector<float>> xtc_frames;
  t = open(data_path("gmx_peptide10.xtc"), kPeptideAtoms);
  ASSERT_EQ(t.nsnaps, kPeptideFrames);
  for (int i = 1; i <= kPeptideFrames; ++i) {
    ASSERT_EQ(snap(t, i), 0);
    xtc_frames.push_back(coords);
  }
  t = open(data_path("gmx_peptide10.xtc") + "(2:10:3)", kPeptideAtoms);
  expect_any_order_agrees(t, [](int f) { return xtc_frames[static_cast<std::size_t>(f - 1)]; });
}

TEST_F(Snap, BoxOfTheFrameReadComesWithIt) {
  trajectory t = open(data_path("peptide10_box.dcd"), kPeptideAtoms);
  const std::vector<float> cells = reference("peptide10_box.ref.f32");
  for (int i : {4, 2, 9}) {
    ASSERT_EQ(snap(t, i), 0);
    for (int k = 0; k < 6; ++k) EXPECT_EQ(t.box[k], cells[6 * (i - 1) + k]);
  }
}

TEST_F(Snap, FramesThatCannotBeReadAreReported) {
  std::string bytes = pattern_dcd(2, 5);
  const std::size_t frame = dcd_frame(pattern_frame(2, 1)).size();
  bytes[dcd_header(2).size() + 2 * frame + 4 + 8] = 3;  // frame 3: its x record's closing marker
  const std::string path = put("bad.dcd", pattern_dcd(2, 5));
  trajectory t = open(path, 2);
  ASSERT_EQ(t.nsnaps, 5);
  write_file(path, bytes);  // damaged after it was counted
  ASSERT_EQ(snap(t, 2), 0);
  EXPECT_EQ(snap(t, 3), 1);
  EXPECT_EQ(snap(t, 4), 1);  // frame 4 lies beyond the damaged one
  ASSERT_EQ(snap(t, 1), 0);  // the next request reopens and reads
  EXPECT_EQ(coords, pattern_frame(2, 1));
  EXPECT_EQ(snap(t, 3), 1);
}

TEST_F(Snap, AmberFileCutAfterOpeningIsReported) {
  const std::string path = put("cut.crd", amber_text({{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}));
  trajectory t = open(path, 1);
  ASSERT_EQ(t.nsnaps, 3);
  write_file(path, amber_text({{1, 2, 3}}));
  EXPECT_EQ(snap(t, 2), 1);
  ASSERT_EQ(snap(t, 1), 0);
  EXPECT_EQ(coords, (std::vector<float>{1, 2, 3}));
}

TEST_F(Snap, CoordinateArrayTooSmallIsAFailureNotAnOverrun) {
  trajectory t = open(put("run.dcd", pattern_dcd(4, 2)), 4);
  std::vector<float> small(5, -1.0f);
  ::testing::internal::CaptureStdout();
  xsnap(t, small, 1);
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(t.status, 1);
}

TEST_F(Snap, CloseReleasesTheHandle) {
  trajectory t = open(put("run.dcd", pattern_dcd(2, 2)), 2);
  EXPECT_EQ(open_handles(), 1);
  snap(t, 3);
  xclose(t);
  EXPECT_EQ(t.status, 0);
  EXPECT_EQ(t.unit, 0);
  EXPECT_EQ(open_handles(), 0);
  xclose(t);  // a second close touches nothing
  EXPECT_EQ(open_handles(), 0);
}

}  // namespace
}  // namespace kvtraj

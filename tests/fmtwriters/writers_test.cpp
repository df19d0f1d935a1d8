#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <filesystem>

#include "fmtwriters/fmtwriters.hpp"
#include "tests/fmtwriters/two_frames.hpp"
#include "tests/testsupport/testsupport.hpp"

namespace kvtraj {
namespace {

using testing::Bytes;
using testing::read_file;
using testing::TempDir;
using testing::write_file;

using testing::kFrame1;
using testing::kFrame2;
using testing::write_two_frames;

const UnitCell kBox{47.66f, 53.96f, 47.42f, 90.0f, 90.0f, 90.0f};

Bytes axis_record(const std::vector<float>& frame, int axis) {
  Bytes b;
  b.i32(8).f32(frame[axis]).f32(frame[3 + axis]).i32(8);
  return b;
}

Bytes dcd_bytes(bool with_cell) {
  Bytes b;
  b.i32(84).raw("CORD").i32(2).i32(0).i32(1).i32(2);
  for (int i = 0; i < 5; ++i) b.i32(0);
  b.f32(1.0f).i32(with_cell ? 1 : 0);
  for (int i = 0; i < 8; ++i) b.i32(0);
  b.i32(24).i32(84);
  b.i32(84).i32(1).text("two frames", 80).i32(84);
  b.i32(4).i32(2).i32(4);
  for (const auto* frame : {&kFrame1, &kFrame2}) {
    if (with_cell) {
      b.i32(48).f64(47.66f).f64(0.0).f64(53.96f).f64(0.0).f64(0.0).f64(47.42f).i32(48);
    }
    for (int axis = 0; axis < 3; ++axis) b.raw(axis_record(*frame, axis).str());
  }
  return b;
}

TEST(DcdWriter, WritesTheCharmmLayoutWithAndWithoutCells) {
  TempDir dir;
  write_two_frames(dir.path("plain.dcd"), TrajectoryFormat::dcd, false, kBox);
  EXPECT_EQ(read_file(dir.path("plain.dcd")), dcd_bytes(false).str());
  write_two_frames(dir.path("box.dcd"), TrajectoryFormat::dcd, true, kBox);
  EXPECT_EQ(read_file(dir.path("box.dcd")), dcd_bytes(true).str());
  // The size that kvt compress compares KVT files with.
  EXPECT_EQ(dcd_file_size(2, 2, false), dcd_bytes(false).str().size());
  EXPECT_EQ(dcd_file_size(2, 2, true), dcd_bytes(true).str().size());
}

TEST(BinposWriter, WritesMagicCountsCoordinatesAndBoxes) {
  TempDir dir;
  write_two_frames(dir.path("plain.binpos"), TrajectoryFormat::binpos, false, kBox);
  Bytes plain;
  plain.raw("fxyz");
  for (const auto* f : {&kFrame1, &kFrame2}) {
    plain.i32(2);
    for (float v : *f) plain.f32(v);
  }
  EXPECT_EQ(read_file(dir.path("plain.binpos")), plain.str());

  write_two_frames(dir.path("box.binpos"), TrajectoryFormat::binpos, true, kBox);
  Bytes boxed;
  boxed.raw("fxyz");
  for (const auto* f : {&kFrame1, &kFrame2}) {
    boxed.i32(2);
    for (float v : *f) boxed.f32(v);
    boxed.f32(47.66f).f32(53.96f).f32(47.42f).f32(90).f32(90).f32(90);
  }
  EXPECT_EQ(read_file(dir.path("box.binpos")), boxed.str());
}

TEST(AmberWriter, TenFieldsPerLineAndAFrameStartsOnANewLine) {
  TempDir dir;
  auto w = TrajectoryWriter::create(dir.path("four.crd"), TrajectoryFormat::crd, 4, false, "");
  ASSERT_TRUE(w);
  std::vector<float> frame(12);
  for (int i = 0; i < 12; ++i) frame[i] = static_cast<float>(i) * 1.5f - 3.0f;
  ASSERT_TRUE(w->write_frame(frame));
  ASSERT_TRUE(w->write_frame(frame));
  ASSERT_TRUE(w->finish());
  const std::string lines =
      "  -3.000  -1.500   0.000   1.500   3.000   4.500   6.000   7.500   9.000  10.500\n"
      "  12.000  13.500\n";
  EXPECT_EQ(read_file(dir.path("four.crd")), "Created by kvtraj\n" + lines + lines);
}

TEST(AmberWriter, CrdboxAddsABoxLine) {
  TempDir dir;
  write_two_frames(dir.path("box.crd"), TrajectoryFormat::crd, true, kBox);
  const std::string expected =
      "two frames\n"
      "   1.000   2.000   3.000   4.000   5.000   6.000\n"
      "  47.660  53.960  47.420\n"
      "  -1.500   0.250   9.000   7.000   8.000  -0.125\n"
      "  47.660  53.960  47.420\n";
  EXPECT_EQ(read_file(dir.path("box.crd")), expected);

  auto w =
      TrajectoryWriter::create(dir.path("tri.crdbox"), TrajectoryFormat::crdbox, 2, false, "t");
  ASSERT_TRUE(w);
  ASSERT_TRUE(w->write_frame(kFrame1, UnitCell{10, 10, 10, 60, 60, 90}));
  ASSERT_TRUE(w->finish());
  EXPECT_EQ(read_file(dir.path("tri.crdbox")),
            "t\n   1.000   2.000   3.000   4.000   5.000   6.000\n"
            "  10.000  10.000  10.000  60.000  60.000  90.000\n");
}

TEST(AmberWriter, ValueOutsideTheFieldFailsAndLeavesTheOldFile) {
  TempDir dir;
  const std::string path = dir.path("out.crd");
  write_file(path, "previous good file\n");
  auto w = TrajectoryWriter::create(path, TrajectoryFormat::crd, 2, false, "");
  ASSERT_TRUE(w);
  ASSERT_TRUE(w->write_frame(kFrame1));
  std::vector<float> far = kFrame1;
  far[4] = 12345.0f;
  ::testing::internal::CaptureStdout();
  EXPECT_FALSE(w->write_frame(far));
  EXPECT_FALSE(w->write_frame(kFrame1));
  EXPECT_FALSE(w->finish());
  // Reported once, by the step that failed.
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "value 12345 in frame 2 does not fit the 8 columns of an AMBER coordinate field\n");
  w.reset();
  EXPECT_EQ(read_file(path), "previous good file\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.root()),
                          std::filesystem::directory_iterator()),
            1);
}

TEST(Writers, OutputFailuresAreReported) {
  ::testing::internal::CaptureStdout();
  EXPECT_FALSE(
      TrajectoryWriter::create("/nonexistent-dir/x.dcd", TrajectoryFormat::dcd, 2, false, ""));
  EXPECT_FALSE(TrajectoryWriter::create("/tmp/x.dcd", TrajectoryFormat::dcd, 0, false, ""));
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "/nonexistent-dir/x.dcd: cannot open for writing: No such file or directory\n"
            "/tmp/x.dcd: cannot write a trajectory of 0 atoms\n");

  auto w = TrajectoryWriter::create("/dev/full", TrajectoryFormat::binpos, 2, false, "");
  ASSERT_TRUE(w);
  ::testing::internal::CaptureStdout();
  bool ok = true;
  for (int i = 0; i < 1000 && ok; ++i) ok = w->write_frame(kFrame1);
  EXPECT_FALSE(ok && w->finish());
  EXPECT_THAT(::testing::internal::GetCapturedStdout(),
              ::testing::MatchesRegex("/dev/full: cannot write: No space left on device\n"));
}

TEST(Writers, ShortFrameIsAnError) {
  TempDir dir;
  auto w = TrajectoryWriter::create(dir.path("a.dcd"), TrajectoryFormat::dcd, 3, false, "");
  ASSERT_TRUE(w);
  ::testing::internal::CaptureStdout();
  EXPECT_FALSE(w->write_frame(kFrame1));
  EXPECT_THAT(::testing::internal::GetCapturedStdout(),
              ::testing::EndsWith("a.dcd: frame has 6 coordinates, 9 expected\n"));
}

TEST(Writers, FormatFollowsTheExtension) {
  EXPECT_EQ(format_from_extension("run.dcd"), TrajectoryFormat::dcd);
  EXPECT_EQ(format_from_extension("a/b.binpos"), TrajectoryFormat::binpos);
  EXPECT_EQ(format_from_extension("x.crd"), TrajectoryFormat::crd);
  EXPECT_EQ(format_from_extension("x.mdcrd"), TrajectoryFormat::crd);
  EXPECT_EQ(format_from_extension("x.crdbox"), TrajectoryFormat::crdbox);
  EXPECT_EQ(format_from_extension("x.xtc"), TrajectoryFormat::xtc);
  EXPECT_EQ(format_from_extension("x.nc"), TrajectoryFormat::netcdf);
  EXPECT_EQ(format_from_extension("x.ncdf"), TrajectoryFormat::netcdf);
  EXPECT_EQ(format_from_extension("x.pdb"), TrajectoryFormat::pdb);
  EXPECT_EQ(format_from_extension("x.gro"), TrajectoryFormat::gro);
  EXPECT_FALSE(format_from_extension("dcd"));
}

TEST(UnitCells, EachFormatsConventionMapsToLengthsAndDegrees) {
  const std::array<float, 6> mdtraj = {47.66f, 0.0f, 53.96f, 0.0f, 0.0f, 47.42f};
  const UnitCell c = cell_from_dcd(mdtraj);
  EXPECT_EQ(c.a, 47.66f);
  EXPECT_EQ(c.b, 53.96f);
  EXPECT_EQ(c.c, 47.42f);
  EXPECT_FLOAT_EQ(c.alpha, 90.0f);
  EXPECT_FLOAT_EQ(c.gamma, 90.0f);
  const std::array<float, 6> charmm_degrees = {30, 120, 30, 90, 90, 40};
  const UnitCell h = cell_from_dcd(charmm_degrees);
  EXPECT_EQ(h.gamma, 120.0f);
  EXPECT_EQ(h.c, 40.0f);
  const std::array<float, 6> cosines = {30, 0.5f, 30, 0, 0, 40};
  EXPECT_NEAR(cell_from_dcd(cosines).gamma, 60.0f, 1e-4f);
  const std::array<float, 6> amber = {47.66f, 53.96f, 47.40f, 0.0f, 0.0f, 0.0f};
  const UnitCell a = cell_from_lengths(amber);
  EXPECT_EQ(a.c, 47.40f);
  EXPECT_EQ(a.alpha, 90.0f);
  EXPECT_EQ(a.beta, 90.0f);
}

}  // namespace
}  // namespace kvtraj

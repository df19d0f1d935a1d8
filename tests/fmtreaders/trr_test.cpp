// TRR: files written by GROMACS and MDTraj checked against MDAnalysis's reading of them, and
// crafted files for double precision, frames without coordinates and damaged headers.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "tests/fmtreaders/reader_fixture.hpp"

namespace kvtraj {
namespace {

using namespace kvtraj::testing;

using Trr = ReaderTest;

constexpr int kFrameValues = 3 * kPeptideAtoms + 6;  // a reference frame: coordinates, then cell

// Pattern coordinates went through nm in the file: equal up to the reals' rounding.
void expect_pattern(const std::vector<float>& got, int natoms, int frame) {
  const std::vector<float> want = pattern_frame(natoms, frame);
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) EXPECT_NEAR(got[i], want[i], 2e-4f) << i;
}

TEST_F(Trr, PeptideFilesOfGromacsAndMdtrajMatchMdanalysis) {
  for (const char* name : {"peptide10_gmx", "peptide10_mdtraj"}) {
    const std::int32_t h = open(data_path(std::string(name) + ".trr"));
    ASSERT_GT(h, 0) << out;
    EXPECT_EQ(out,
              "file type is trr\nAttempting to open trr file\n"
              "Warning: trr file resetting natoms to 200\n");
    EXPECT_EQ(f77_molfile_type(h), kTypeTrr);
    EXPECT_TRUE(f77_molfile_has_box(h));
    const std::vector<float> ref = reference(std::string(name) + "_trr.ref.f32");
    for (int f = 0; f < kPeptideFrames; ++f) {
      ASSERT_EQ(read(h, kPeptideAtoms), 1) << name << " " << f;
      const float* want = ref.data() + f * kFrameValues;
      for (int i = 0; i < 3 * kPeptideAtoms; ++i) {
        ASSERT_NEAR(coords[i], want[i], 4e-6f * std::fabs(want[i])) << name << " " << f;
      }
      for (int k = 0; k < 6; ++k) EXPECT_NEAR(box[k], want[3 * kPeptideAtoms + k], 1e-4f) << k;
    }
    EXPECT_EQ(read(h, kPeptideAtoms), 0);
  }
}

TEST_F(Trr, DoublePrecisionWithTriclinicBoxVelocitiesAndForces) {
  TrrLayout l;
  l.real_bytes = 8;
  l.box = {3, 0, 0, 2, 2, 0, 0, 3, 4};  // |b| = 2√2 at 45° to a; c at 90° to a
  l.v = l.f = true;
  const std::int32_t h = open_bytes("double.trr", pattern_trr(4, 3, l));
  ASSERT_GT(h, 0) << out;
  EXPECT_EQ(f77_molfile_type(h), kTypeTrrDouble);
  for (int f = 1; f <= 3; ++f) {
    ASSERT_EQ(read(h, 4), 1);
    expect_pattern(coords, 4, f);
  }
  EXPECT_EQ(read(h, 4), 0);
  const double alpha = std::acos(6.0 / (std::sqrt(8.0) * 5.0)) * 180.0 / std::numbers::pi;
  const std::array<float, 6> want = {
      30.0f, 10.0f * std::sqrt(8.0f), 50.0f, static_cast<float>(alpha), 90.0f, 45.0f};
  for (int k = 0; k < 6; ++k) EXPECT_NEAR(box[k], want[k], 1e-4f) << k;
}

TEST_F(Trr, FramesWithoutCoordinatesArePassedOverAndNotCounted) {
  TrrLayout velocities;
  velocities.x = false;
  velocities.v = true;
  const std::string bytes = trr_frame(3, 1) + trr_frame(3, 2, velocities) + trr_frame(3, 3);
  std::int32_t h = open_bytes("mixed.trr", bytes);
  EXPECT_EQ(f77_molfile_skip_next(h, 3, 100), 2);
  EXPECT_EQ(read(h, 3), 0);
  std::int32_t status = 0;
  f77_molfile_close_read(h, status);
  h = open(dir.path("mixed.trr"));
  ASSERT_EQ(read(h, 3), 1);
  expect_pattern(coords, 3, 1);
  ASSERT_EQ(read(h, 3), 1);
  expect_pattern(coords, 3, 3);
  EXPECT_EQ(read(h, 3), 0);
}

TEST_F(Trr, TruncatedFrameEndsCountingAndReading) {
  const std::string bytes = pattern_trr(5, 3);
  for (const std::size_t cut : {std::size_t{10}, bytes.size() / 3 - 40}) {  // in x, in the header
    std::int32_t h = open_bytes("cut.trr", bytes.substr(0, bytes.size() - cut));
    EXPECT_EQ(f77_molfile_skip_next(h, 5, 100), 2) << cut;
    EXPECT_TRUE(f77_molfile_cut_inside_frame(h)) << cut;
    std::int32_t status = 0;
    f77_molfile_close_read(h, status);
    h = open(dir.path("cut.trr"));
    EXPECT_EQ(read(h, 5), 1);
    EXPECT_EQ(read(h, 5), 1);
    EXPECT_EQ(read(h, 5), 0);
    f77_molfile_close_read(h, status);
  }
}

TEST_F(Trr, RefusedHeadersGiveOneMessageAndReleaseTheSlot) {
  TrrLayout wrong_magic;
  wrong_magic.magic = 1995;
  std::string short_x = trr_frame(3, 1);
  short_x[4 * 3 + 12 + 4 * 7 + 3] -= 4;  // x_size no longer 3 × natoms × 4
  std::string absurd = trr_frame(3, 1);
  absurd[4 * 3 + 12 + 4 * 10] = 0x7f;  // natoms about 2e9, disagreeing with every size
  std::string mixed = trr_frame(3, 1);
  mixed[4 * 3 + 12 + 4 * 2 + 3] = 72;  // a box of doubles beside single-precision coordinates
  const std::pair<std::string, const char*> cases[] = {
      {pattern_trr(3, 1, wrong_magic), "Error - no magic number in trr file\n"},
      {short_x, "Error - bad header in trr file\n"},
      {absurd, "Error - bad header in trr file\n"},
      {mixed, "Error - bad header in trr file\n"},
      {"", "Error - bad header in trr file\n"}};
  for (const auto& [bytes, message] : cases) {
    EXPECT_EQ(open_bytes("bad.trr", bytes), -1) << message;
    EXPECT_EQ(out, std::string("file type is trr\nAttempting to open trr file\n") + message);
    EXPECT_EQ(handcom()[0], 0);
  }
}

TEST_F(Trr, LaterFrameOfAnotherSizeIsNotRead) {
  const std::string bytes = trr_frame(3, 1) + trr_frame(4, 2) + trr_frame(3, 3);
  const std::int32_t h = open_bytes("sizes.trr", bytes);
  EXPECT_EQ(read(h, 3), 1);
  EXPECT_EQ(read(h, 3), 0);
  EXPECT_FALSE(f77_molfile_cut_inside_frame(h));
}

}  // namespace
}  // namespace kvtraj

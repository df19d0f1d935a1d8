// AMBER formatted coordinates: MDTraj's mdcrd files against the reference to the three decimals
// they hold, and crafted text for short lines, blank fields, box lines and bad data.
#include <gtest/gtest.h>

#include <cmath>

#include "tests/fmtreaders/reader_fixture.hpp"

namespace kvtraj {
namespace {

using namespace kvtraj::testing;

using Amber = ReaderTest;

void expect_near_all(const std::vector<float>& got, const std::vector<float>& ref,
                     std::size_t offset, float tolerance) {
  ASSERT_LE(offset + got.size(), ref.size());
  for (std::size_t i = 0; i < got.size(); ++i) {
    ASSERT_NEAR(got[i], ref[offset + i], tolerance) << "value " << i;
  }
}

TEST_F(Amber, PeptideCrdMatchesTheReference) {
  const std::int32_t h = open(data_path("peptide10.mdcrd"), "crd");
  const std::vector<float> ref = reference("peptide10.ref.f32");
  for (int f = 0; f < kPeptideFrames; ++f) {
    ASSERT_EQ(read(h, kPeptideAtoms), 1) << f;
    expect_near_all(coords, ref, 3 * kPeptideAtoms * static_cast<std::size_t>(f), 0.0005f);
  }
  EXPECT_EQ(read(h, kPeptideAtoms), 0);
}

TEST_F(Amber, PeptideCrdboxReadsTheBoxLineAsSixFields) {
  const std::int32_t h = open(data_path("peptide10_box.mdcrd"), "crdbox");
  const std::vector<float> ref = reference("peptide10.ref.f32");
  for (int f = 0; f < kPeptideFrames; ++f) {
    ASSERT_EQ(read(h, kPeptideAtoms), 1) << f;
    expect_near_all(coords, ref, 3 * kPeptideAtoms * static_cast<std::size_t>(f), 0.0005f);
    // "  47.660   53.960   47.420" in 8-column fields: 47.66, 53.96, "0   47.4", "20".
    const std::array<float, 6> want = {47.66f, 53.96f, 47.4f, 0.02f, 0.0f, 0.0f};
    for (int k = 0; k < 6; ++k) EXPECT_NEAR(box[k], want[k], 1e-5f) << f << " " << k;
  }
  EXPECT_EQ(read(h, kPeptideAtoms), 0);
}

TEST_F(Amber, FourAtomsTakeTwoLinesPerFrame) {
  const std::vector<float> f1 = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  const std::vector<float> f2 = {-1.5f, 2.25f, 3, 4, 5, 6, 7, 8, 9, 10, 11, 99.125f};
  const std::string text = amber_text({f1, f2});
  ASSERT_EQ(std::count(text.begin(), text.end(), '\n'), 5);
  const std::int32_t h = open_bytes("four.crd", text);
  ASSERT_EQ(read(h, 4), 1);
  EXPECT_EQ(coords, f1);
  ASSERT_EQ(read(h, 4), 1);
  EXPECT_EQ(coords, f2);
  EXPECT_EQ(read(h, 4), 0);
}

TEST_F(Amber, BoxLineOfThreeLengthsGivesThreeZeros) {
  const std::int32_t h =
      open_bytes("b.crdbox", amber_text({{1, 2, 3}, {4, 5, 6}}, "  10.000  20.000  30.000"));
  ASSERT_EQ(read(h, 1), 1);
  EXPECT_EQ(box, (std::array<float, 6>{10, 20, 30, 0, 0, 0}));
  ASSERT_EQ(read(h, 1), 1);
  EXPECT_EQ(coords, (std::vector<float>{4, 5, 6}));
  EXPECT_EQ(read(h, 1), 0);
}

TEST_F(Amber, ShortLinesAndBlankFieldsReadAsZero) {
  // Atom 2's y field blank, the line cut after it, a CR line end and an implied decimal point.
  const std::int32_t h = open_bytes("s.crd",
                                    "t\r\n   1.000   2.000   3.000   4.000        \r\n"
                                    "    1234\n");
  ASSERT_EQ(read(h, 4), 1);
  EXPECT_EQ(coords, (std::vector<float>{1, 2, 3, 4, 0, 0, 0, 0, 0, 0, 1.234f, 0}));
}

TEST_F(Amber, BadNumbersAndEndOfFileAreNotFrames) {
  std::int32_t h = open_bytes("bad.crd", "t\n   1.000   x.000   3.000\n   1.000   2.000   3.000\n");
  EXPECT_EQ(read(h, 1), 0);
  // A frame of four atoms needs a second line; a short first line only pads with zeros.
  h = open_bytes("cut.crd", "t\n   1.000   2.000   3.000   4.000\n");
  EXPECT_EQ(read(h, 4), 0);
  h = open_bytes("nobox.crdbox", "t\n   1.000   2.000   3.000\n");  // box line missing
  EXPECT_EQ(read(h, 1), 0);
  h = open_bytes("empty.crd", "");
  ASSERT_GT(h, 0);
  EXPECT_EQ(read(h, 1), 0);
}

TEST_F(Amber, ReadsNeedAKnownAtomCountAndRoomForIt) {
  const std::int32_t h = open_bytes("a.crd", amber_text({{1, 2, 3}, {4, 5, 6}}));
  EXPECT_EQ(read(h, 0), 0);
  std::vector<float> small(2);
  std::int32_t status = 9;
  f77_molfile_read_next(h, 1, small, box, status);
  EXPECT_EQ(status, 0);
}

}  // namespace
}  // namespace kvtraj

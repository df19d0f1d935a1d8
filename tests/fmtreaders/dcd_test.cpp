// DCD: files written by MDTraj checked against MDAnalysis's reading of them, and crafted files
// for the variants and faults that peers do not write.
#include <gtest/gtest.h>

#include "tests/fmtreaders/reader_fixture.hpp"

namespace kvtraj {
namespace {

using namespace kvtraj::testing;

using Dcd = ReaderTest;

std::vector<float> frame_of(const std::vector<float>& all, int frame) {
  const std::size_t n = 3 * kPeptideAtoms;
  return {all.begin() + static_cast<long>(n * frame),
          all.begin() + static_cast<long>(n * frame + n)};
}

TEST_F(Dcd, PeptideMatchesTheReference) {
  const std::int32_t h = open(data_path("peptide10.dcd"));
  EXPECT_EQ(f77_molfile_type(h), kTypeDcd);
  const std::vector<float> ref = reference("peptide10.ref.f32");
  for (int f = 0; f < kPeptideFrames; ++f) {
    ASSERT_EQ(read(h, kPeptideAtoms), 1) << f;
    EXPECT_EQ(coords, frame_of(ref, f)) << f;
  }
  EXPECT_EQ(read(h, kPeptideAtoms), 0);
}

TEST_F(Dcd, PeptideWithUnitCellDeliversTheCellInFileOrder) {
  const std::int32_t h = open(data_path("peptide10_box.dcd"));
  EXPECT_EQ(f77_molfile_type(h), kTypeDcdCell);
  EXPECT_TRUE(f77_molfile_has_box(h));
  const std::vector<float> ref = reference("peptide10.ref.f32");
  const std::vector<float> cells = reference("peptide10_box.ref.f32");
  for (int f = 0; f < kPeptideFrames; ++f) {
    ASSERT_EQ(read(h, kPeptideAtoms), 1) << f;
    EXPECT_EQ(coords, frame_of(ref, f)) << f;
    for (int k = 0; k < 6; ++k) EXPECT_EQ(box[k], cells[6 * f + k]) << f << " " << k;
  }
  EXPECT_FLOAT_EQ(box[0], 47.66f);
  EXPECT_FLOAT_EQ(box[5], 47.42f);
}

TEST_F(Dcd, EightByteMarkersReadLikeFourByteOnes) {
  for (bool cell : {false, true}) {
    DcdLayout l;
    l.marker_bytes = 8;
    l.cell = cell;
    const std::int32_t h = open_bytes(cell ? "c8.dcd" : "p8.dcd", pattern_dcd(4, 3, l));
    ASSERT_GT(h, 0) << out;
    EXPECT_EQ(f77_molfile_type(h), cell ? kTypeDcd64Cell : kTypeDcd64);
    for (int f = 1; f <= 3; ++f) {
      ASSERT_EQ(read(h, 4), 1);
      EXPECT_EQ(coords, pattern_frame(4, f));
      if (cell) {
        EXPECT_EQ(box, (std::array<float, 6>{10.0f * f, 0, 20.0f * f, 0, 0, 30.0f * f}));
      }
    }
    EXPECT_EQ(read(h, 4), 0);
  }
}

TEST_F(Dcd, VersionZeroHeaderHasA64BitTimeStepAndNoCell) {
  DcdLayout l;
  l.version = 0;
  const std::int32_t h = open_bytes("v0.dcd", pattern_dcd(3, 2, l));
  EXPECT_EQ(f77_molfile_type(h), kTypeDcd);
  ASSERT_EQ(read(h, 3), 1);
  EXPECT_EQ(coords, pattern_frame(3, 1));
  ASSERT_EQ(read(h, 3), 1);
  EXPECT_EQ(coords, pattern_frame(3, 2));
}

TEST_F(Dcd, RefusedHeadersGiveTheirMessageAndReleaseTheSlot) {
  DcdLayout fixed, extra;
  fixed.fixed = 2;
  extra.extra = 1;
  Bytes swapped;  // a big-endian file: the first marker reads as neither 84 nor 84 in 8 bytes
  swapped.raw(std::string("\0\0\0\x54", 4)).raw("CORD");
  const std::string good = pattern_dcd(2, 1);
  const struct {
    const char* name;
    std::string bytes;
    const char* message;
  } cases[] = {
      {"fixed.dcd", pattern_dcd(2, 1, fixed), "Error - fixed atoms in dcd file not supported"},
      {"extra.dcd", pattern_dcd(2, 1, extra), "Error - extra dimension in dcd file not supported"},
      {"swap.dcd", swapped.str() + good.substr(8), "Problem with dcd file - wrong-endian?"},
      {"nomagic.dcd", good.substr(0, 4) + "DROC" + good.substr(8),
       "Error - no magic word in dcd file?"},
      {"nomagic8.dcd", Bytes().i64(84).raw("XXXX").str() + good.substr(8),
       "Error - no magic word in dcd file?"},
      {"empty.dcd", "", "Problem with dcd file - wrong-endian?"},
      {"short.dcd", good.substr(0, 40), "Error - bad header in dcd file"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(open_bytes(c.name, c.bytes), -1) << c.name;
    EXPECT_EQ(out,
              std::string("file type is dcd\nAttempting to open dcd file\n") + c.message + "\n")
        << c.name;
    EXPECT_EQ(handcom()[0], 0) << c.name;
    EXPECT_EQ(handcom()[50], 0) << c.name;
  }
}

// A header with natoms and title count replaced, built from a good one.
std::string header_with(std::int32_t natoms, std::int32_t titles, std::int32_t title_marker) {
  Bytes b;
  const std::string h = dcd_header(1);
  b.raw(h.substr(0, 92)).i32(title_marker).i32(titles).raw(h.substr(100, 80));
  b.i32(title_marker).i32(4).i32(natoms).i32(4);
  return b.str();
}

TEST_F(Dcd, UntrustedCountsAreRefusedWithoutAllocating) {
  const struct {
    const char* name;
    std::string bytes;
    const char* message;
  } cases[] = {
      {"neg.dcd", header_with(-5, 1, 84), "Error - bad atom count in dcd file"},
      {"zero.dcd", header_with(0, 1, 84), "Error - bad atom count in dcd file"},
      {"huge.dcd", header_with(INT32_MAX, 1, 84), "Error - bad atom count in dcd file"},
      {"titles.dcd", header_with(1, 10000000, 4 + 80 * 10000000), "Error - bad header in dcd file"},
      {"negtitles.dcd", header_with(1, -1, 84), "Error - bad header in dcd file"},
      {"badmark.dcd", header_with(1, 1, 80), "Error - bad header in dcd file"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(open_bytes(c.name, c.bytes), -1) << c.name;
    EXPECT_NE(out.find(c.message), std::string::npos) << c.name << ": " << out;
  }
  // A large but representable count opens; its frames are absent and nothing is allocated.
  const std::int32_t h = open_bytes("big.dcd", header_with(400000000, 1, 84));
  ASSERT_GT(h, 0) << out;
  std::vector<float> small(3);
  std::int32_t status = 9;
  f77_molfile_read_next(h, 400000000, small, box, status);
  EXPECT_EQ(status, 0);
}

TEST_F(Dcd, FramesThatDisagreeWithNatomsAreErrors) {
  // The header says 3 atoms, the x record holds 2.
  std::string bytes = dcd_header(3) + dcd_frame(pattern_frame(2, 1));
  std::int32_t h = open_bytes("short.dcd", bytes + std::string(12, '\0'));
  EXPECT_EQ(read(h, 3), 0);
  // A closing marker that disagrees with its opening one.
  bytes = pattern_dcd(2, 2);
  bytes[bytes.size() - 1 - 3] = 9;
  h = open_bytes("marker.dcd", bytes);
  EXPECT_EQ(read(h, 2), 1);
  EXPECT_EQ(read(h, 2), 0);
  // A caller's natoms larger or smaller than the file's reads nothing past the record.
  h = open_bytes("two.dcd", pattern_dcd(2, 2));
  EXPECT_EQ(read(h, 3), 0);
  EXPECT_EQ(read(h, 1), 0);
  EXPECT_EQ(read(h, 2), 1);
  EXPECT_EQ(coords, pattern_frame(2, 1));
}

TEST_F(Dcd, TruncatedLastFrameIsNotRead) {
  const std::string bytes = pattern_dcd(5, 3);
  const std::int32_t h = open_bytes("cut.dcd", bytes.substr(0, bytes.size() - 10));
  EXPECT_EQ(read(h, 5), 1);
  EXPECT_EQ(read(h, 5), 1);
  EXPECT_EQ(read(h, 5), 0);
  EXPECT_EQ(read(h, 5), 0);
}

TEST_F(Dcd, ArraysTooSmallForTheFrameAreRefused) {
  DcdLayout l;
  l.cell = true;
  const std::int32_t h = open_bytes("cell.dcd", pattern_dcd(3, 1, l));
  std::vector<float> small(8);
  std::array<float, 5> small_box{};
  std::int32_t status = 9;
  f77_molfile_read_next(h, 3, small, box, status);
  EXPECT_EQ(status, 0);
  std::vector<float> enough(9);
  f77_molfile_read_next(h, 3, enough, small_box, status);
  EXPECT_EQ(status, 0);
}

TEST_F(Dcd, SkippingSeeksOverWholeFramesOnly) {
  DcdLayout l;
  l.cell = true;
  const std::int32_t h = open_bytes("skip.dcd", pattern_dcd(3, 6, l));
  EXPECT_EQ(f77_molfile_skip_next(h, 3, 3), 3);
  ASSERT_EQ(read(h, 3), 1);
  EXPECT_EQ(coords, pattern_frame(3, 4));
  EXPECT_EQ(box[0], 40.0f);
  EXPECT_EQ(f77_molfile_skip_next(h, 3, 100), 2);
  EXPECT_EQ(read(h, 3), 0);
}

TEST_F(Dcd, SkippingStopsAtTheFirstFrameWithADamagedMarker) {
  DcdLayout l;
  l.cell = true;
  const std::size_t header = dcd_header(3, l).size();
  const std::size_t frame = dcd_frame(pattern_frame(3, 1), l).size();
  // In frame 2: the cell record's leading marker, the y record's leading marker, the z record's
  // closing marker.
  for (const std::size_t offset : {std::size_t{0}, std::size_t{56 + 20}, frame - 4}) {
    std::string bytes = pattern_dcd(3, 4, l);
    bytes[header + frame + offset] ^= 1;
    const std::int32_t h = open_bytes("damaged.dcd", bytes);
    EXPECT_EQ(f77_molfile_skip_next(h, 3, 100), 1) << offset;
    EXPECT_TRUE(f77_molfile_cut_inside_frame(h)) << offset;  // bytes follow the last whole frame
    EXPECT_EQ(read(h, 3), 0) << offset;
    std::int32_t status = 0;
    f77_molfile_close_read(h, status);
  }
}

TEST_F(Dcd, ReadNextEntryRefusesOtherTypes) {
  const std::int32_t h = open_bytes("a.crd", "title\n");
  std::int32_t status = 0;
  ::testing::internal::CaptureStdout();
  dcdreadnext(h, coords, 1, box, status);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Error - unrecognised dcd file type\n");
  EXPECT_EQ(status, -2);
}

}  // namespace
}  // namespace kvtraj

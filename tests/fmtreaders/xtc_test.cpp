// XTC: files written by GROMACS and MDTraj checked against MDAnalysis's reading of them, the
// codec against GROMACS's own bytes, and damaged copies of those files.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>

#include "fmtreaders/xtc_codec.hpp"
#include "tests/fmtreaders/reader_fixture.hpp"

namespace kvtraj {
namespace {

using namespace kvtraj::testing;

using Xtc = ReaderTest;

std::uint32_t be32_at(const std::string& s, std::size_t at) {
  std::uint32_t v = 0;
  for (std::size_t k = 0; k < 4; ++k) v = (v << 8) | static_cast<unsigned char>(s[at + k]);
  return v;
}

void set_be32(std::string& s, std::size_t at, std::uint32_t v) {
  for (std::size_t k = 4; k-- > 0; v >>= 8) s[at + k] = static_cast<char>(v & 0xff);
}

// Frame starts of a compressed XTC file, walked from the byte counts (offset 88 in a frame).
std::vector<std::size_t> frame_starts(const std::string& file) {
  std::vector<std::size_t> starts;
  for (std::size_t at = 0; at + 92 <= file.size();
       at += 92 + (be32_at(file, at + 88) + 3) / 4 * 4) {
    starts.push_back(at);
  }
  return starts;
}

struct PeerFile {
  const char* name;
  const char* reference;
  int frames;
  int atoms;
  float precision;  // 0: plain floats
};

constexpr PeerFile kPeerFiles[] = {
    {"gmx_peptide10.xtc", "gmx_peptide10", 10, 200, 1000.0f},
    {"gmx_peptide10_ndec2.xtc", "gmx_peptide10_ndec2", 10, 200, 100.0f},
    {"mdtraj_peptide10.xtc", "mdtraj_peptide10", 10, 200, 1000.0f},
    {"mdtraj_9atom.xtc", "mdtraj_9atom", 2, 9, 0.0f},
    {"mdtraj_1atom.xtc", "mdtraj_1atom", 3, 1, 0.0f},
    {"mdtraj_wide.xtc", "mdtraj_wide", 2, 12, 1000.0f},  // axis fields stored separately
};

TEST_F(Xtc, PeerFilesMatchTheReferenceWithinHalfAGridStep) {
  for (const PeerFile& p : kPeerFiles) {
    std::int32_t natoms = 0;
    const std::int32_t h = open(data_path(p.name), "auto", natoms);
    ASSERT_GT(h, 0) << p.name << out;
    EXPECT_EQ(natoms, p.atoms);
    EXPECT_EQ(f77_molfile_type(h), kTypeXtc);
    EXPECT_TRUE(f77_molfile_has_box(h));
    EXPECT_EQ(f77_molfile_xtc_precision(h), p.precision) << p.name;
    const std::vector<float> ref = reference(std::string(p.reference) + ".ref.f32");
    ASSERT_EQ(ref.size(), static_cast<std::size_t>(3 * p.atoms * p.frames));
    // Half a grid step in Å, and a float's rounding of the reference.
    const float tol = p.precision > 0 ? 5.0f / p.precision + 1e-4f : 1e-5f;
    for (int f = 0; f < p.frames; ++f) {
      ASSERT_EQ(read(h, p.atoms), 1) << p.name << " frame " << f;
      for (int k = 0; k < 3 * p.atoms; ++k) {
        ASSERT_NEAR(coords[k], ref[static_cast<std::size_t>(3 * p.atoms * f + k)], tol)
            << p.name << " frame " << f << " value " << k;
      }
    }
    EXPECT_EQ(read(h, p.atoms), 0) << p.name;
  }
}

TEST_F(Xtc, BoxesComeOutAsLengthsAndAngles) {
  for (const char* name : {"gmx_peptide10", "mdtraj_peptide10"}) {
    const std::int32_t h = open(data_path(std::string(name) + ".xtc"));
    const std::vector<float> cells = reference(std::string(name) + ".box.f32");
    for (int f = 0; f < kPeptideFrames; ++f) {
      ASSERT_EQ(read(h, kPeptideAtoms), 1);
      for (int k = 0; k < 6; ++k) EXPECT_NEAR(box[k], cells[6 * f + k], 1e-3f) << name << k;
    }
  }
}

TEST_F(Xtc, OpenNamesTheFormatAndResetsNatoms) {
  std::int32_t natoms = 5;
  const std::int32_t h = open(data_path("gmx_peptide10.xtc"), "auto", natoms);
  ASSERT_GT(h, 0);
  EXPECT_EQ(natoms, kPeptideAtoms);
  EXPECT_NE(out.find("file type is xtc"), std::string::npos) << out;
  EXPECT_NE(out.find("Attempting to open xtc file"), std::string::npos) << out;
  EXPECT_NE(out.find("Warning: xtc file resetting natoms to 200"), std::string::npos) << out;
}

TEST_F(Xtc, SkippingCountsWithoutDecodingAndLandsOnTheRightFrame) {
  const std::vector<float> ref = reference("gmx_peptide10.ref.f32");
  const std::int32_t h = open(data_path("gmx_peptide10.xtc"));
  EXPECT_EQ(f77_molfile_skip_next(h, kPeptideAtoms, 3), 3);
  ASSERT_EQ(read(h, kPeptideAtoms), 1);
  EXPECT_NEAR(coords[0], ref[3 * 3 * kPeptideAtoms], 0.006f);
  EXPECT_EQ(f77_molfile_skip_next(h, kPeptideAtoms, 100), 6);
  EXPECT_EQ(read(h, kPeptideAtoms), 0);
  EXPECT_FALSE(f77_molfile_cut_inside_frame(h));
  EXPECT_EQ(f77_molfile_skip_next(h, kPeptideAtoms + 1, 1), 0);  // another atom count
  // A reopened file takes its frame starts along: frames come back in order.
  std::int32_t status = 0;
  f77_molfile_close_read(h, status);
  const std::int32_t again = open(data_path("gmx_peptide10.xtc"));
  EXPECT_EQ(f77_molfile_skip_next(again, kPeptideAtoms, 9), 9);
  ASSERT_EQ(read(again, kPeptideAtoms), 1);
  EXPECT_NEAR(coords[0], ref[9 * 3 * kPeptideAtoms], 0.006f);
}

// Re-encoding the decoded frames of GROMACS and MDTraj at their precision gives their blocks
// byte for byte: the compression is deterministic.
TEST(XtcCodec, ReencodingGivesTheWritersBytes) {
  for (const PeerFile& p : kPeerFiles) {
    if (p.precision == 0.0f) continue;
    const std::string file = read_file(data_path(p.name));
    const auto* raw = reinterpret_cast<const unsigned char*>(file.data());
    xtc::Encoder encoder;
    const std::vector<std::size_t> starts = frame_starts(file);
    ASSERT_EQ(starts.size(), static_cast<std::size_t>(p.frames)) << p.name;
    for (std::size_t at : starts) {
      xtc::BlockHeader h;
      ASSERT_EQ(xtc::parse_block_header(raw + at + 56, p.atoms, h), xtc::BlockFault::none);
      std::vector<float> nm(3 * static_cast<std::size_t>(p.atoms));
      ASSERT_TRUE(xtc::decode(h, raw + at + 92, p.atoms, 1.0f, nm));
      std::vector<unsigned char> block;
      ASSERT_TRUE(encoder.encode(nm, h.precision, block));
      const std::string expected = file.substr(at + 56, 36 + (h.bytes + 3) / 4 * 4);
      EXPECT_EQ(std::string(block.begin(), block.end()), expected) << p.name << " at " << at;
    }
  }
}

// Ranges of about 2^23 grid steps on every axis pack a full atom into 69 bits, past the 64-bit
// arithmetic of ordinary frames; atoms close together still form runs.
TEST(XtcCodec, WidePackedNumbersRoundTrip) {
  std::vector<float> nm;
  for (int a = 0; a < 40; ++a) {
    for (int d = 0; d < 3; ++d) {
      const int step = a % 4 == 3 ? (a * 1237 + d * 4001) % 64000 : (a * 3 + d) % 64000;
      nm.push_back(static_cast<float>(step) / 8.0f);
    }
  }
  nm[3 * 39] = nm[3 * 39 + 1] = nm[3 * 39 + 2] = 7999.875f;
  std::vector<unsigned char> block;
  ASSERT_TRUE(xtc::Encoder().encode(nm, 1000.0f, block));
  xtc::BlockHeader h;
  ASSERT_EQ(xtc::parse_block_header(block.data(), 40, h), xtc::BlockFault::none);
  std::vector<float> back(nm.size());
  ASSERT_TRUE(xtc::decode(h, block.data() + 36, 40, 1.0f, back));
  for (std::size_t k = 0; k < nm.size(); ++k) EXPECT_NEAR(back[k], nm[k], 1e-3f) << k;
}

TEST(XtcCodec, CoordinatesOutOfIntegerRangeAreRefused) {
  xtc::Encoder encoder;
  std::vector<float> nm(3 * 12, 1.0f);
  nm[7] = 3.0e6f;  // × 1000 is beyond 32-bit integers
  std::vector<unsigned char> block;
  EXPECT_FALSE(encoder.encode(nm, 1000.0f, block));
  EXPECT_TRUE(block.empty());
  nm[7] = -2.0e6f;
  nm[10] = 2.0e6f;  // each fits, their range does not
  EXPECT_FALSE(encoder.encode(nm, 1000.0f, block));
}

// Damaged copies of the GROMACS file.
class XtcDamage : public ReaderTest {
 protected:
  void SetUp() override {
    ReaderTest::SetUp();
    file = read_file(data_path("gmx_peptide10.xtc"));
    starts = frame_starts(file);
  }
  // Frames the reader counts in `bytes`, or -1 when the open fails.
  std::int64_t count(const std::string& bytes) {
    const std::int32_t h = open_bytes("damaged.xtc", bytes);
    if (h < 0) return -1;
    return f77_molfile_skip_next(h, kPeptideAtoms, 1000);
  }
  std::string file;
  std::vector<std::size_t> starts;
};

TEST_F(XtcDamage, TruncatedFileEndsTheCountAndIsRecognised) {
  for (std::size_t cut : {std::size_t{1}, std::size_t{40}, std::size_t{100}}) {
    const std::int32_t h = open_bytes("cut.xtc", file.substr(0, file.size() - cut));
    ASSERT_GT(h, 0);
    EXPECT_EQ(f77_molfile_skip_next(h, kPeptideAtoms, 1000), 9) << cut;
    EXPECT_TRUE(f77_molfile_cut_inside_frame(h)) << cut;
  }
}

TEST_F(XtcDamage, HeaderThatDisagreesEndsTheCountThere) {
  std::string magic = file;
  set_be32(magic, starts[3], 1996);
  EXPECT_EQ(count(magic), 3);
  std::string atoms = file;
  set_be32(atoms, starts[2] + 4, 199);
  EXPECT_EQ(count(atoms), 2);
  std::string second = file;
  set_be32(second, starts[2] + 52, 201);
  EXPECT_EQ(count(second), 2);
  std::string beyond = file;
  set_be32(beyond, starts[5] + 88, 0x7fffffff);
  EXPECT_EQ(count(beyond), 5);
}

TEST_F(XtcDamage, BadFirstFrameFailsTheOpenWithAMessage) {
  struct Case {
    std::size_t at;
    std::uint32_t value;
    const char* reason;
  };
  const float nan = std::nanf("");
  std::uint32_t nan_bits = 0;
  std::memcpy(&nan_bits, &nan, 4);
  for (const Case& c : {Case{0, 1994, "no magic 1995"}, Case{4, 0, "bad atom count"},
                        Case{52, 201, "atom count differs from the first frame"},
                        Case{56, 0, "bad precision"}, Case{56, nan_bits, "bad precision"},
                        Case{60, 0x7fffffff, "bad coordinate range"},  // minimum above maximum
                        Case{60, 0x80000000, "bad coordinate range"},  // wider than 32 bits
                        Case{84, 8, "bad size class"},                 // below the table
                        Case{84, 73, "bad size class"},                // beyond it
                        Case{88, 40, "byte count too small for the atom count"},
                        Case{88, 0xfffffff0, "frame extends beyond the end of the file"}}) {
    std::string bad = file;
    set_be32(bad, c.at, c.value);
    const std::int32_t h = open_bytes("bad.xtc", bad);
    EXPECT_EQ(h, -1) << c.at << " " << c.value;
    EXPECT_THAT(out, ::testing::EndsWith("Error - bad xtc file: " + std::string(c.reason) + "\n"));
  }
  EXPECT_EQ(open_bytes("empty.xtc", ""), -1);
  EXPECT_THAT(out, ::testing::EndsWith("Error - bad xtc file: empty file\n"));
  EXPECT_EQ(open_bytes("short.xtc", file.substr(0, 70)), -1);
  EXPECT_THAT(out, ::testing::EndsWith("Error - bad xtc file: file ends inside a frame header\n"));
}

TEST_F(XtcDamage, StreamThatRunsShortIsAFailedRead) {
  // Frame 1's stream cut to 100 bytes: its header still holds, its atoms do not fit.
  std::string bad = file.substr(0, 92);
  set_be32(bad, 88, 100);
  bad += file.substr(92, 100);
  const std::int32_t h = open_bytes("short.xtc", bad);
  ASSERT_GT(h, 0) << out;
  EXPECT_EQ(read(h, kPeptideAtoms), 0);
  // Garbage in a stream decodes to something or fails, but stays inside its block.
  std::string noise = file;
  for (std::size_t k = starts[0] + 92; k < starts[1]; ++k) noise[k] = static_cast<char>(k * 7919);
  const std::int32_t g = open_bytes("noise.xtc", noise);
  ASSERT_GT(g, 0);
  read(g, kPeptideAtoms);
  EXPECT_EQ(read(g, kPeptideAtoms), 1);  // the next frame is unharmed
}

}  // namespace
}  // namespace kvtraj

// The XTC writer: GROMACS's file rewritten from our reading of it gives GROMACS's compressed
// blocks, and our files read back (through our reader) within half a grid step.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <filesystem>

#include "fmtreaders/fmtreaders.hpp"
#include "fmtwriters/fmtwriters.hpp"
#include "tests/testsupport/testsupport.hpp"

namespace kvtraj {
namespace {

using testing::data_path;
using testing::read_file;
using testing::TempDir;

constexpr int kAtoms = 200;

struct Trajectory {
  std::vector<std::vector<float>> frames;
  std::vector<UnitCell> cells;
  float precision = 0.0f;
};

Trajectory read_all(const std::string& path, std::int32_t natoms) {
  f77_molfile_init();
  Trajectory t;
  std::int32_t handle = 0, status = 1;
  ::testing::internal::CaptureStdout();
  f77_molfile_open_read(handle, natoms, path, "xtc");
  ::testing::internal::GetCapturedStdout();
  t.precision = f77_molfile_xtc_precision(handle);
  std::vector<float> coords(3 * static_cast<std::size_t>(natoms));
  std::array<float, 6> box{};
  for (f77_molfile_read_next(handle, natoms, coords, box, status); status == 1;
       f77_molfile_read_next(handle, natoms, coords, box, status)) {
    t.frames.push_back(coords);
    t.cells.push_back(cell_from_lengths(box));
  }
  f77_molfile_init();
  return t;
}

// Writes `t` to `path`; false (the writer has reported why) when any step fails.
bool write_all(const std::string& path, const Trajectory& t, bool with_cell,
               float precision = 0.0f) {
  const auto natoms = static_cast<std::int32_t>(t.frames.front().size() / 3);
  auto w = TrajectoryWriter::create(path, TrajectoryFormat::xtc, natoms, with_cell, "", precision);
  if (!w) return false;
  for (std::size_t f = 0; f < t.frames.size(); ++f) {
    if (!w->write_frame(t.frames[f], with_cell ? t.cells[f] : UnitCell{})) return false;
  }
  return w->finish();
}

// The bytes of each frame from its second atom count on (atom count and compressed block).
std::vector<std::string> blocks(const std::string& file) {
  const auto be32 = [&](std::size_t at) {
    std::uint32_t v = 0;
    for (std::size_t k = 0; k < 4; ++k) v = (v << 8) | static_cast<unsigned char>(file[at + k]);
    return v;
  };
  std::vector<std::string> out;
  for (std::size_t at = 0; at + 92 <= file.size();) {
    const std::size_t end = at + 92 + (be32(at + 88) + 3) / 4 * 4;
    out.push_back(file.substr(at + 52, end - at - 52));
    at = end;
  }
  return out;
}

TEST(XtcWriter, RewritingGromacsFileGivesItsCompressedBlocks) {
  TempDir dir;
  for (const char* name : {"gmx_peptide10.xtc", "gmx_peptide10_ndec2.xtc"}) {
    const Trajectory gmx = read_all(data_path(name), kAtoms);
    ASSERT_EQ(gmx.frames.size(), 10u);
    const std::string ours = dir.path("ours.xtc");
    ASSERT_TRUE(write_all(ours, gmx, true, gmx.precision));
    const std::vector<std::string> expected = blocks(read_file(data_path(name)));
    const std::vector<std::string> got = blocks(read_file(ours));
    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t f = 0; f < got.size(); ++f) EXPECT_EQ(got[f], expected[f]) << name << f;
    const Trajectory back = read_all(ours, kAtoms);
    EXPECT_NEAR(back.cells[3].b, gmx.cells[3].b, 1e-4f);
  }
}

TEST(XtcWriter, SmallAndLargeSystemsReadBackWithinHalfAGridStep) {
  TempDir dir;
  const UnitCell triclinic{48.0f, 52.0f, 50.0f, 80.0f, 95.0f, 70.0f};
  for (int natoms : {1, 9, 10, 300}) {
    Trajectory t;
    for (int f = 0; f < 3; ++f) {
      std::vector<float> frame(3 * static_cast<std::size_t>(natoms));
      for (std::size_t k = 0; k < frame.size(); ++k) {
        frame[k] = 20.0f * std::sin(0.37f * static_cast<float>(k) + static_cast<float>(f)) +
                   (k % 7 == 0 ? 250.0f : 0.0f);  // some atoms far away: runs break
      }
      t.frames.push_back(frame);
      t.cells.push_back(triclinic);
    }
    for (float precision : {1000.0f, 100.0f}) {
      const std::string path = dir.path("t.xtc");
      ASSERT_TRUE(write_all(path, t, true, precision)) << natoms;
      const Trajectory back = read_all(path, natoms);
      ASSERT_EQ(back.frames.size(), 3u) << natoms;
      EXPECT_EQ(back.precision, natoms > 9 ? precision : 0.0f);
      for (std::size_t f = 0; f < 3; ++f) {
        for (std::size_t k = 0; k < t.frames[f].size(); ++k) {
          if (natoms > 9) {
            ASSERT_NEAR(back.frames[f][k], t.frames[f][k], 5.0f / precision + 1e-4f) << k;
          } else {  // plain floats: only the nm conversion's rounding
            ASSERT_FLOAT_EQ(back.frames[f][k], t.frames[f][k]) << natoms << " " << k;
          }
        }
        EXPECT_NEAR(back.cells[f].c, 50.0f, 1e-4f);
        EXPECT_NEAR(back.cells[f].alpha, 80.0f, 1e-3f);
        EXPECT_NEAR(back.cells[f].beta, 95.0f, 1e-3f);
        EXPECT_NEAR(back.cells[f].gamma, 70.0f, 1e-3f);
      }
    }
  }
}

TEST(XtcWriter, BadPrecisionOrCoordinatesLeaveNoFile) {
  TempDir dir;
  const std::string path = dir.path("bad.xtc");
  ::testing::internal::CaptureStdout();
  EXPECT_FALSE(TrajectoryWriter::create(path, TrajectoryFormat::xtc, 20, false, "", -1.0f));
  EXPECT_FALSE(TrajectoryWriter::create(path, TrajectoryFormat::xtc, 20, false, "", NAN));
  auto w = TrajectoryWriter::create(path, TrajectoryFormat::xtc, 20, false, "");
  ASSERT_TRUE(w);
  std::vector<float> frame(60, 1.0f);
  EXPECT_TRUE(w->write_frame(frame));
  frame[4] = 3.0e7f;  // 3e6 nm × 1000 does not fit in 32-bit integers
  EXPECT_FALSE(w->write_frame(frame));
  EXPECT_FALSE(w->finish());
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "XTC precision must be a positive number\n"
            "XTC precision must be a positive number\n"
            "coordinates too large for XTC at precision 1000.000000\n");
  w.reset();
  EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
}  // namespace kvtraj

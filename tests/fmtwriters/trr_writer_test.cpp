// The TRR writer: a GROMACS file read, written and read again (through our reader) keeps its
// coordinates and boxes; stamped frames read back as plain values in a zero box.
#include <gtest/gtest.h>

#include <array>

#include "fmtreaders/fmtreaders.hpp"
#include "fmtwriters/fmtwriters.hpp"
#include "tests/testsupport/testsupport.hpp"

namespace kvtraj {
namespace {

struct Frames {
  std::vector<std::vector<float>> coords;
  std::vector<std::array<float, 6>> boxes;
  bool has_box = false;
};

Frames read_trr(const std::string& path) {
  f77_molfile_init();
  Frames t;
  std::int32_t handle = 0, natoms = 0, status = 1;
  ::testing::internal::CaptureStdout();
  f77_molfile_open_read(handle, natoms, path, "trr");
  ::testing::internal::GetCapturedStdout();
  EXPECT_GT(handle, 0) << path;
  std::vector<float> coords(3 * static_cast<std::size_t>(natoms));
  std::array<float, 6> box{};
  for (f77_molfile_read_next(handle, natoms, coords, box, status); status == 1;
       f77_molfile_read_next(handle, natoms, coords, box, status)) {
    t.coords.push_back(coords);
    t.boxes.push_back(box);
  }
  t.has_box = f77_molfile_has_box(handle);
  f77_molfile_init();
  return t;
}

TEST(TrrWriter, GromacsFramesReadBackWithTheirBoxes) {
  testing::TempDir dir;
  const Frames gmx = read_trr(testing::data_path("peptide10_gmx.trr"));
  ASSERT_FALSE(gmx.coords.empty());
  ASSERT_TRUE(gmx.has_box);
  const auto natoms = static_cast<std::int32_t>(gmx.coords[0].size() / 3);
  const std::string path = dir.path("copy.trr");
  auto w = TrajectoryWriter::create(path, *format_from_extension(path), natoms, true, "");
  ASSERT_TRUE(w);
  for (std::size_t f = 0; f < gmx.coords.size(); ++f) {
    ASSERT_TRUE(w->write_frame(gmx.coords[f], cell_from_lengths(gmx.boxes[f])));
  }
  ASSERT_TRUE(w->finish());
  const Frames back = read_trr(path);
  ASSERT_EQ(back.coords.size(), gmx.coords.size());
  EXPECT_TRUE(back.has_box);
  for (std::size_t f = 0; f < gmx.coords.size(); ++f) {
    for (std::size_t c = 0; c < gmx.coords[f].size(); ++c) {
      EXPECT_NEAR(back.coords[f][c], gmx.coords[f][c], 1e-6 * (1.0 + std::abs(gmx.coords[f][c])));
    }
    for (std::size_t c = 0; c < 6; ++c) EXPECT_NEAR(back.boxes[f][c], gmx.boxes[f][c], 1e-3);
  }
}

TEST(TrrWriter, StampedFramesHoldTheValuesAsGiven) {
  testing::TempDir dir;
  const std::string path = dir.path("vectors.trr");
  const std::vector<float> a = {0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f};
  const std::vector<float> b = {0.6f, -0.0f, 0.0f, 0.0f, 0.8f, 0.0f};
  auto w = StampedTrr::create(path, 2);
  ASSERT_TRUE(w);
  ASSERT_TRUE(w->write(a, {-1, -1.0f, 0.0f}));
  ASSERT_TRUE(w->write(b, {1, 2.5f, 0.0f}));
  EXPECT_FALSE(w->write(std::span(a).first(3), {2, 1.0f, 0.0f}));
  ASSERT_TRUE(w->finish());
  const Frames back = read_trr(path);
  ASSERT_EQ(back.coords.size(), 2u);
  // The reader gives Å: ten times the values written.
  for (std::size_t c = 0; c < a.size(); ++c) {
    EXPECT_FLOAT_EQ(back.coords[0][c], 10.0f * a[c]);
    EXPECT_FLOAT_EQ(back.coords[1][c], 10.0f * b[c]);
  }
  // Header of the second frame: step 1, time 2.5 (big-endian) after the version and sizes.
  const std::string bytes = testing::read_file(path);
  const std::size_t frame = bytes.size() / 2, step_at = 4 + 4 + 4 + 12 + 10 * 4 + 4;
  EXPECT_EQ(bytes.substr(frame + step_at, 4), std::string("\0\0\0\1", 4));
  EXPECT_EQ(bytes.substr(frame + step_at + 8, 4), std::string("\x40\x20\0\0", 4));
}

}  // namespace
}  // namespace kvtraj

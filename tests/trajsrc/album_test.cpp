// Albums: snapshots across file boundaries, empty and missing lists, the 500-file limit, and
// albums of more files than there are reader handles.
#include <gtest/gtest.h>

#include "tests/trajsrc/traj_fixture.hpp"

namespace kvtraj {
namespace {

using namespace kvtraj::testing;

class Album : public TrajTest {
 protected:
  album open_album(const std::string& list, std::int32_t natoms = 0) {
    ::testing::internal::CaptureStdout();
    album a = xalbopen(10, list, natoms);
    out = ::testing::internal::GetCapturedStdout();
    return a;
  }
  std::int32_t album_snap(album& a, std::int32_t i) {
    coords.assign(3 * static_cast<std::size_t>(std::max(a.natoms, 1)), -7.0f);
    ::testing::internal::CaptureStdout();
    xalbsnap(a, coords, i);
    out = ::testing::internal::GetCapturedStdout();
    return a.status;
  }
};

// The lines of an album list.
std::string lines(std::initializer_list<std::string> names) {
  std::string out;
  for (const std::string& n : names) out.append(n).append("\n");
  return out;
}

// A DCD of `frames` frames whose frame f holds pattern frame base + f.
std::string offset_dcd(int natoms, int frames, int base) {
  std::string bytes = dcd_header(natoms);
  for (int f = 1; f <= frames; ++f) bytes += dcd_frame(pattern_frame(natoms, base + f));
  return bytes;
}

TEST_F(Album, SnapshotsRunAcrossFileBoundaries) {
  const std::string a = put("a.dcd", pattern_dcd(2, 10));
  const std::string b = put("b.dcd", offset_dcd(2, 10, 100));
  const std::string list = put("list", lines({a, b + "(6:10)"}));
  album alb = open_album(list);
  EXPECT_EQ(alb.name, list);
  EXPECT_EQ(alb.unit, 10);
  EXPECT_EQ(alb.status, 0);
  EXPECT_EQ(alb.natoms, 2);
  EXPECT_EQ(alb.total, 15);
  EXPECT_EQ(alb.current, 1);
  EXPECT_EQ(alb.cumulative[0], 10);
  EXPECT_EQ(alb.cumulative[1], 15);
  EXPECT_EQ(alb.cumulative[2], 0);
  EXPECT_EQ(alb.files[1].first, 6);
  EXPECT_EQ(alb.active.name, a);
  EXPECT_EQ(open_handles(), 1);
  EXPECT_TRUE(alb.active.unit > 50);

  ASSERT_EQ(album_snap(alb, 10), 0);
  EXPECT_EQ(coords, pattern_frame(2, 10));
  ASSERT_EQ(album_snap(alb, 11), 0);
  EXPECT_EQ(alb.current, 2);
  EXPECT_EQ(coords, pattern_frame(2, 106));
  EXPECT_EQ(open_handles(), 1);
  EXPECT_EQ(album_snap(alb, 16), -2);
  ASSERT_EQ(album_snap(alb, 15), 0);  // a refused request does not block the next one
  EXPECT_EQ(coords, pattern_frame(2, 110));
  ASSERT_EQ(album_snap(alb, 1), 0);
  EXPECT_EQ(alb.current, 1);
  EXPECT_EQ(coords, pattern_frame(2, 1));
  EXPECT_EQ(open_handles(), 1);
}

TEST_F(Album, EmptyListHasNoSnapshots) {
  album alb = open_album(put("empty", ""));
  EXPECT_EQ(alb.total, 0);
  EXPECT_EQ(alb.status, 0);
  EXPECT_EQ(album_snap(alb, 1), -2);
  EXPECT_EQ(album_snap(alb, 0), -2);
}

TEST_F(Album, NatomsIsTheLargestSeen) {
  const std::string list =
      put("list", lines({put("a.dcd", pattern_dcd(2, 3)), put("b.dcd", pattern_dcd(4, 3))}));
  std::int32_t natoms = 0;
  ::testing::internal::CaptureStdout();
  album alb = xalbopen(10, list, natoms);
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(natoms, 4);
  EXPECT_EQ(alb.natoms, 4);
  ASSERT_EQ(album_snap(alb, 5), 0);
  EXPECT_EQ(std::vector<float>(coords.begin(), coords.begin() + 12), pattern_frame(4, 2));
}

TEST_F(Album, HundredTwentyFilesKeepOneHandleOpen) {
  std::string names;
  for (int k = 0; k < 120; ++k) {
    const std::string name = std::string("f").append(std::to_string(k));
    names.append(put(name + ".dcd", offset_dcd(2, 3, 3 * k))).append("\n");
  }
  album alb = open_album(put("list", names));
  ASSERT_EQ(alb.total, 360);
  EXPECT_EQ(open_handles(), 1);
  for (int i = 1; i <= 360; ++i) {
    ASSERT_EQ(album_snap(alb, i), 0) << i;
    ASSERT_EQ(coords, pattern_frame(2, i)) << i;
  }
  for (int i : {200, 3, 359, 181, 180}) {
    ASSERT_EQ(album_snap(alb, i), 0) << i;
    EXPECT_EQ(coords, pattern_frame(2, i)) << i;
  }
  EXPECT_EQ(open_handles(), 1);
  xclose(alb.active);
  EXPECT_EQ(open_handles(), 0);
}

TEST_F(Album, MissingListAndTooManyNamesAreFatal) {
  std::int32_t natoms = 0;
  KVTRAJ_EXPECT_FATAL(xalbopen(10, dir.path("nolist") + "  ", natoms),
                      "^.*/nolist: no such file\\?\n$");
  const std::string one = put("one.dcd", pattern_dcd(2, 1));
  std::string names;
  for (int k = 0; k < 501; ++k) names.append(one).append("\n");
  const std::string list = put("big", names);
  KVTRAJ_EXPECT_FATAL(xalbopen(10, list, natoms),
                      "dcd file\n(.*\n)?Error - maximum number of 500 files in an album\n$");
}

TEST_F(Album, FiveHundredNamesAreAllowed) {
  const std::string one = put("one.dcd", pattern_dcd(2, 2));
  std::string names;
  for (int k = 0; k < 500; ++k) names.append(one).append("\n");
  album alb = open_album(put("list", names), 2);
  EXPECT_EQ(alb.total, 1000);
  ASSERT_EQ(album_snap(alb, 1000), 0);
  EXPECT_EQ(coords, pattern_frame(2, 2));
  EXPECT_EQ(alb.current, 500);
}

}  // namespace
}  // namespace kvtraj

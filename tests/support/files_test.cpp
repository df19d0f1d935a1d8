#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <limits>

#include "support/files.hpp"
#include "support/sizes.hpp"
#include "tests/testsupport/testsupport.hpp"

namespace kvtraj {
namespace {

using testing::read_file;
using testing::TempDir;
using testing::write_file;

TEST(Sizes, CheckedArithmeticRefusesOverflowAndNegatives) {
  EXPECT_EQ(checked_mul(3, 4), 12u);
  EXPECT_EQ(checked_mul(std::int64_t{1} << 32, std::int64_t{1} << 31), std::uint64_t{1} << 63);
  EXPECT_FALSE(checked_mul(std::int64_t{1} << 32, std::int64_t{1} << 32));
  EXPECT_FALSE(checked_mul(-1, 5));
  EXPECT_EQ(checked_add(1, 2), 3u);
  EXPECT_FALSE(checked_add(std::numeric_limits<std::uint64_t>::max(), 1));
}

TEST(Files, ExistenceAndSize) {
  TempDir dir;
  EXPECT_FALSE(file_exists(dir.path("none")));
  EXPECT_FALSE(file_size(dir.path("none")));
  write_file(dir.path("f"), "12345");
  EXPECT_TRUE(file_exists(dir.path("f")));
  EXPECT_EQ(file_size(dir.path("f")), 5u);
  EXPECT_FALSE(file_size(dir.root()));  // a directory has no file size
}

std::size_t entries(const std::string& dir) {
  return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(dir),
                                                std::filesystem::directory_iterator()));
}

TEST(ReplacingFile, TargetAppearsOnlyOnCommit) {
  TempDir dir;
  const std::string target = dir.path("out.bin");
  write_file(target, "old contents");
  auto out = ReplacingFile::create(target);
  ASSERT_TRUE(out);
  std::fputs("new", out->get());
  EXPECT_EQ(read_file(target), "old contents");
  EXPECT_EQ(entries(dir.root()), 2u);  // the target and the temporary beside it
  EXPECT_TRUE(out->commit());
  EXPECT_EQ(read_file(target), "new");
  out.reset();
  EXPECT_EQ(entries(dir.root()), 1u);
}

TEST(ReplacingFile, AbandonedOutputLeavesTheTargetAndNoTemporary) {
  TempDir dir;
  const std::string target = dir.path("out.bin");
  write_file(target, "good");
  {
    auto out = ReplacingFile::create(target);
    ASSERT_TRUE(out);
    std::fputs("partial", out->get());
  }
  EXPECT_EQ(read_file(target), "good");
  EXPECT_EQ(entries(dir.root()), 1u);
}

TEST(ReplacingFile, NewFilesGetTheUsualPermissions) {
  TempDir dir;
  const mode_t old_mask = ::umask(022);
  auto out = ReplacingFile::create(dir.path("new"));
  ::umask(old_mask);
  ASSERT_TRUE(out);
  ASSERT_TRUE(out->commit());
  struct stat st {};
  ASSERT_EQ(::stat(dir.path("new").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST(ReplacingFile, ReplacedFilesKeepTheirPermissions) {
  TempDir dir;
  write_file(dir.path("old"), "old");
  ASSERT_EQ(::chmod(dir.path("old").c_str(), 0640), 0);
  auto out = ReplacingFile::create(dir.path("old"));
  ASSERT_TRUE(out);
  std::fputs("new", out->get());
  ASSERT_TRUE(out->commit());
  struct stat st {};
  ASSERT_EQ(::stat(dir.path("old").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(read_file(dir.path("old")), "new");
}

TEST(ReplacingFile, UnwritableDirectoryFailsAtCreation) {
  EXPECT_FALSE(ReplacingFile::create("/nonexistent-dir/out.bin"));
}

TEST(ReplacingFile, DevicesAreWrittenDirectly) {
  auto null_out = ReplacingFile::create("/dev/null");
  ASSERT_TRUE(null_out);
  std::fputs("discarded", null_out->get());
  EXPECT_TRUE(null_out->commit());

  auto full = ReplacingFile::create("/dev/full");
  ASSERT_TRUE(full);
  std::fputs("no room", full->get());
  errno = 0;
  EXPECT_FALSE(full->commit());
  EXPECT_EQ(errno, ENOSPC);
  struct stat st {};
  ASSERT_EQ(::stat("/dev/full", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
}

}  // namespace
}  // namespace kvtraj

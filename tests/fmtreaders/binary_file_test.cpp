// The byte layer under the binary readers: reads that cross the end of the read-ahead buffer,
// jumps back, short reads at the end, whole blocks and skipped blocks — over a file and over the
// same bytes in memory, which must read alike.
#include "fmtreaders/binary_file.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/fortran_input.hpp"
#include "tests/testsupport/testsupport.hpp"

namespace kvtraj::readers {
namespace {

// 600,000 bytes, more than two read-ahead buffers, with no period a misplaced read could hide in.
std::string pattern() {
  std::string bytes(600000, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 7919) % 251);
  return bytes;
}

class BinaryFileTest : public ::testing::TestWithParam<bool> {
 protected:
  BinaryFile open() {
    if (!GetParam()) return BinaryFile::over(bytes_);
    testing::write_file(dir_.path("f.bin"), bytes_);
    return *BinaryFile::open(dir_.path("f.bin"));
  }
  std::string expected(std::size_t at, std::size_t n) const { return bytes_.substr(at, n); }

  testing::TempDir dir_;
  const std::string bytes_ = pattern();
};

TEST_P(BinaryFileTest, ReadsAcrossTheBufferEndAndAfterJumpsBack) {
  BinaryFile f = open();
  std::string got(1000, '\0');
  for (std::size_t at = 0; at + 1000 <= 300000; at += 1000) {  // crosses 262,144
    ASSERT_TRUE(f.read(got.data(), got.size()));
    ASSERT_EQ(got, expected(at, 1000)) << at;
  }
  ASSERT_TRUE(f.seek(10));
  ASSERT_TRUE(f.read(got.data(), 1000));
  EXPECT_EQ(got, expected(10, 1000));
  std::vector<char> buffer;
  const char* data = nullptr;
  ASSERT_TRUE(f.seek(262000));
  ASSERT_EQ(f.read_block(buffer, 5000, data), kIoOk);
  EXPECT_EQ(std::string(data, 5000), expected(262000, 5000));
  ASSERT_EQ(f.read_block(buffer, 300000, data), kIoOk);  // larger than the read-ahead buffer
  EXPECT_EQ(std::string(data, 300000), expected(267000, 300000));
}

TEST_P(BinaryFileTest, EndsWithShortReadsAndPartialBlocks) {
  BinaryFile f = open();
  std::string got(100, '\0');
  std::size_t n = 0;
  ASSERT_TRUE(f.seek(bytes_.size() - 40));
  EXPECT_FALSE(f.read(got.data(), got.size(), n));
  EXPECT_EQ(n, 40u);
  EXPECT_EQ(got.substr(0, 40), expected(bytes_.size() - 40, 40));
  EXPECT_EQ(f.position(), bytes_.size());

  std::vector<char> buffer;
  const char* data = nullptr;
  EXPECT_EQ(f.read_block(buffer, 100, data), kIoEnd);
  ASSERT_TRUE(f.seek(bytes_.size() - 40));
  EXPECT_EQ(f.read_block(buffer, 100, data), kIoBadData);
  ASSERT_TRUE(f.seek(0));
  EXPECT_EQ(f.skip_blocks(250000, 5), 2u);  // two whole blocks, then 100,000 bytes are left
  EXPECT_EQ(f.remaining(), 100000u);
}

INSTANTIATE_TEST_SUITE_P(FileAndMemory, BinaryFileTest, ::testing::Bool());

}  // namespace
}  // namespace kvtraj::readers

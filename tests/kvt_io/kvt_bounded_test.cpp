// KVT7 through kvt_io: the committed file decodes to exactly the committed floats on every
// build, its principal-component part reads as the KVT4 it embeds, and damage to its coded part
// is reported with the file's name.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "codec/codec.hpp"
#include "kvt_io/kvt_io.hpp"
#include "support/fatal.hpp"
#include "tests/testsupport/testsupport.hpp"

namespace kvtraj {
namespace {

using testing::data_path;
using testing::read_file;
using testing::TempDir;
using testing::write_file;

std::vector<float> floats(const std::string& bytes) {
  std::vector<float> v(bytes.size() / 4);
  std::memcpy(v.data(), bytes.data(), 4 * v.size());
  return v;
}

std::vector<float> decode_all(const kvtfile& k) {
  kvtframes frames(k);
  const std::size_t n = 3 * static_cast<std::size_t>(k.natoms);
  std::vector<float> all(n * static_cast<std::size_t>(k.nframes));
  for (std::int32_t i = 1; i <= k.nframes; ++i)
    frames.read(i, std::span(all).subspan((i - 1) * n, n));
  return all;
}

class KvtBoundedTest : public ::testing::Test {
 protected:
  void SetUp() override { set_fatal_action(throw_fatal_error); }
  const std::string golden_ = data_path("peptide10_bounded.kvt");
};

TEST_F(KvtBoundedTest, GoldenFileDecodesBitForBitAndWithinItsError) {
  const kvtfile k = kvtopen(1, golden_);
  ASSERT_EQ(k.status, 0);
  EXPECT_EQ(k.magic, "KVT7");
  EXPECT_EQ(k.natoms, 200);
  EXPECT_EQ(k.nframes, 10);
  ASSERT_TRUE(k.coded);
  EXPECT_DOUBLE_EQ(k.coded->max_error, 0.01);
  const std::vector<float> decoded = decode_all(k);
  const std::vector<float> golden = floats(read_file(data_path("peptide10_bounded.f32")));
  ASSERT_EQ(decoded.size(), golden.size());
  EXPECT_EQ(std::memcmp(decoded.data(), golden.data(), 4 * golden.size()), 0);
  const std::vector<float> input = floats(read_file(data_path("peptide10.ref.f32")));
  double worst = 0.0;
  for (std::size_t i = 0; i < input.size(); ++i)
    worst = std::max(worst, std::fabs(double(decoded[i]) - input[i]));
  EXPECT_LE(worst, 0.01);
  // Frames read out of order decode the same.
  kvtframes frames(k);
  std::vector<float> one(600);
  frames.read(7, one);
  EXPECT_EQ(std::memcmp(one.data(), golden.data() + 6 * 600, 4 * 600), 0);
  KVTRAJ_EXPECT_FATAL(frames.read(11, one), "frame 11 is outside 1..10");
}

TEST_F(KvtBoundedTest, PrincipalComponentPartIsTheKvt4LayoutAndOtherVersionsHaveNoFrames) {
  const kvtfile k = kvtopen(1, golden_);
  TempDir dir;
  std::string bytes = read_file(golden_);
  bytes.resize(k.coded_offset);
  bytes.replace(0, 4, "KVT4");
  write_file(dir.path("pca.kvt"), bytes);
  const kvtfile four = kvtopen(2, dir.path("pca.kvt"));
  EXPECT_EQ(four.status, 0);
  EXPECT_EQ(four.avg, k.avg);
  EXPECT_EQ(four.evecs, k.evecs);
  EXPECT_EQ(four.proj, k.proj);
  EXPECT_EQ(four.title, k.title);
  EXPECT_FALSE(four.coded);
  KVTRAJ_EXPECT_FATAL(kvtframes{four}, "not a KVT7 file");
}

TEST_F(KvtBoundedTest, DamagedCodedPartsAreReportedWithTheFileName) {
  const kvtfile k = kvtopen(1, golden_);
  const std::string good = read_file(golden_);
  TempDir dir;
  const std::string path = dir.path("bad.kvt");
  // Cut anywhere in the coded part: the index no longer fits.
  for (const std::size_t cut :
       {k.coded_offset, k.coded_offset + 10, good.size() - 30, good.size() - 1}) {
    write_file(path, good.substr(0, cut));
    KVTRAJ_EXPECT_FATAL(kvtopen(3, path), path + ": damaged coded part");
  }
  // A flipped byte inside the block: found when the block is decoded.
  std::string flipped = good;
  flipped[k.coded_offset + k.coded->blocks[0].offset + 200] ^= 0x20;
  write_file(path, flipped);
  const kvtfile bad = kvtopen(4, path);
  KVTRAJ_EXPECT_FATAL(decode_all(bad), path + ": block 1: damaged block");
  // An index that claims more frames per block than the header allows.
  std::string wide = good;
  const std::uint64_t huge = std::uint64_t{1} << 40;
  std::memcpy(wide.data() + k.coded_offset + 16, &huge, 8);
  write_file(path, wide);
  KVTRAJ_EXPECT_FATAL(kvtopen(5, path), "invalid frames per block");
}

}  // namespace
}  // namespace kvtraj

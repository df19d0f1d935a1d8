// The bounded compressor over the engine: every frame of the file comes back within the error,
// the vectors are taken only when they make the file smaller, threads change nothing in the
// file, and groups are coded without the components.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>

#include "codec/codec.hpp"
#include "kvt_io/kvt_io.hpp"
#include "pca/bounded.hpp"
#include "support/fatal.hpp"
#include "support/files.hpp"
#include "tests/pca/memory_reader.hpp"
#include "tests/testsupport/testsupport.hpp"

namespace kvtraj::pca {
namespace {

using kvtraj::testing::TempDir;
using testing::MemoryReader;

double worst_frame_error(const std::string& path, const std::vector<float>& input) {
  const kvtfile k = kvtopen(1, path);
  kvtframes frames(k);
  const std::size_t n = 3 * static_cast<std::size_t>(k.natoms);
  std::vector<float> out(n);
  double worst = 0.0;
  for (std::int32_t i = 1; i <= k.nframes; ++i) {
    frames.read(i, out);
    for (std::size_t j = 0; j < n; ++j)
      worst = std::max(worst, std::fabs(double(out[j]) - input[(i - 1) * n + j]));
  }
  return worst;
}

class BoundedTest : public ::testing::Test {
 protected:
  void SetUp() override { set_fatal_action(throw_fatal_error); }
  TempDir dir_{};
};

// Frames drawn independently along a few modes: their previous frame predicts them poorly, the
// components well, and with enough atoms the components' own floats pay for themselves.
TEST_F(BoundedTest, ComponentsAreKeptWhenTheyPayAndEveryFrameHoldsTheBound) {
  const std::int32_t natoms = 200;
  // Modes of about 0.6 Å per coordinate, noise of 0.02 Å.
  std::vector<float> x = testing::known_spectrum(natoms, 300, 6, 0.001f, 3);
  for (float& v : x) v *= 20.0f;
  MemoryReader reader(x, natoms);
  Options options;
  options.threads = 1;
  BoundedOptions b;
  b.max_error = 0.05;
  const std::string with = dir_.path("with.kvt"), without = dir_.path("without.kvt");
  const BoundedSummary s = compress_bounded(reader, with, options, b);
  EXPECT_GT(s.summary.kept, 0);
  EXPECT_GT(s.model_blocks, 0);
  EXPECT_LE(s.max_deviation, b.max_error);
  EXPECT_LE(worst_frame_error(with, x), b.max_error);
  b.vectors = 0;
  const BoundedSummary flat = compress_bounded(reader, without, options, b);
  EXPECT_EQ(flat.summary.kept, 0);
  EXPECT_LT(s.summary.bytes * 5 / 4, flat.summary.bytes) << "the components should save a quarter";
  EXPECT_LE(worst_frame_error(without, x), b.max_error);
  // The principal-component part answers the queries as for KVT4.
  const kvtfile k = kvtopen(2, with);
  EXPECT_EQ(k.nvecs, s.summary.kept);
  EXPECT_EQ(k.nframes, 300);
}

TEST_F(BoundedTest, ThreadsGiveTheSameFileAndRandomWalksNeedNoComponents) {
  const std::int32_t natoms = 200;
  std::vector<float> x;
  std::mt19937 rng(2);
  std::normal_distribution<float> step(0.0f, 0.1f);
  std::vector<float> pos(3 * natoms);
  for (float& p : pos) p = 20.0f * step(rng);
  for (int f = 0; f < 1000; ++f) {
    for (float& p : pos) x.push_back(p += step(rng));
  }
  MemoryReader reader(x, natoms);
  BoundedOptions b;
  b.max_error = 0.005;
  Options one, two;
  one.threads = 1;
  two.threads = 2;
  const BoundedSummary s1 = compress_bounded(reader, dir_.path("1.kvt"), one, b);
  compress_bounded(reader, dir_.path("2.kvt"), two, b);
  EXPECT_EQ(kvtraj::testing::read_file(dir_.path("1.kvt")),
            kvtraj::testing::read_file(dir_.path("2.kvt")));
  EXPECT_GT(s1.blocks, 1);
  EXPECT_EQ(s1.model_blocks, 0);
  EXPECT_LE(worst_frame_error(dir_.path("1.kvt"), x), b.max_error);
}

TEST_F(BoundedTest, GroupsAreCodedFromTheirOwnPastAndBadErrorsAreRefused) {
  const std::int32_t natoms = 40;
  const std::vector<float> x = testing::known_spectrum(natoms, 200, 4, 0.02f, 8);
  MemoryReader reader(x, natoms);
  Options options;
  BoundedOptions b;
  b.max_error = 0.05;
  b.groups = {{30, 10}};
  const std::string path = dir_.path("groups.kvt");
  compress_bounded(reader, path, options, b);
  const kvtfile k = kvtopen(3, path);
  for (std::int32_t a = 30; a < 40; ++a) EXPECT_TRUE(k.coded->plan.atoms[a].time_only) << a;
  EXPECT_LE(worst_frame_error(path, x), b.max_error);
  b.max_error = -1.0;
  KVTRAJ_EXPECT_FATAL(compress_bounded(reader, dir_.path("bad.kvt"), options, b),
                      "positive number");
  EXPECT_FALSE(file_exists(dir_.path("bad.kvt")));
}

}  // namespace
}  // namespace kvtraj::pca

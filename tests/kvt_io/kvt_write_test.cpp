// kvtcreate / kvtwrite / kvtclose: exact bytes of the KVT4 layout, KVT6 codes, round trips,
// quality, and what a failed write leaves behind.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cmath>
#include <csignal>
#include <cstring>
#include <limits>

#include "kvt_io/kvt_io.hpp"
#include "tests/kvt_io/kvt_fixtures.hpp"
#include "tests/testsupport/testsupport.hpp"

namespace kvtraj {
namespace {

using testing::Bytes;
using testing::KvtSample;
using testing::make_sample;
using testing::read_file;
using testing::write_sample;

template <class T>
T value_at(const std::string& bytes, std::size_t offset) {
  T v{};
  std::memcpy(&v, bytes.data() + offset, sizeof v);
  return v;
}

std::uint64_t kvt4_size(std::uint64_t n, std::uint64_t f, std::uint64_t v) {
  return 116 + 12 * n + v * (12 * n + 4 + 4 * f);
}

TEST(KvtWrite, Kvt4BytesAreTheDocumentedLayout) {
  const testing::TempDir dir;
  const KvtSample s = make_sample(2, 3, 2);
  ASSERT_EQ(write_sample(s, dir.path("a.kvt")), 0);
  Bytes want;
  want.raw("KVT4").text("sample title", 80).i32(2).i32(3).i32(2).f32(0.0f);
  want.i32(0).i32(0).i32(0).i32(0);
  for (float a : s.avg) want.f32(a);
  for (int k = 0; k < 2; ++k) {
    for (int j = 0; j < 6; ++j) want.f32(s.evecs[static_cast<std::size_t>(k * 6 + j)]);
    want.f32(s.evals[static_cast<std::size_t>(k)]);
    for (int i = 0; i < 3; ++i) want.f32(s.proj[static_cast<std::size_t>(k * 3 + i)]);
  }
  EXPECT_EQ(read_file(dir.path("a.kvt")), want.str());
}

TEST(KvtWrite, FileSizesFollowTheCounts) {
  const testing::TempDir dir;
  for (auto [n, f, v] : {std::array{1, 1, 1}, {7, 0, 3}, {10, 5, 0}, {25, 40, 4}}) {
    const KvtSample s = make_sample(n, f, v);
    ASSERT_EQ(write_sample(s, dir.path("4.kvt")), 0);
    EXPECT_EQ(read_file(dir.path("4.kvt")).size(), kvt4_size(3 * n / 3, f, v)) << n << f << v;
    ASSERT_EQ(write_sample(s, dir.path("6.kvt"), "KVT6"), 0);
    const std::uint64_t block = 12 * n + 12 + 2 * f;
    EXPECT_EQ(read_file(dir.path("6.kvt")).size(), 116 + 12 * n + v * block) << n << f << v;
  }
}

// One record per atom is written after the header (flag 1) and read back, texts cut to the
// record's columns; a count that is not the atom count writes none.
TEST(KvtWrite, AtomRecordsRoundTripWithNamesCutToTheirColumns) {
  const testing::TempDir dir;
  const KvtSample s = make_sample(2, 3, 1);
  kvtfile h = testing::handle_of(s, dir.path("a.kvt"));
  h.atoms = {{7, "CA", 3, "ALA", "A"}, {123456, "OH2X5", -4, "TIP3P", "WAT"}};
  h.magic = "KVT6";
  ASSERT_EQ(kvtclose(h), 0);
  const std::string bytes = read_file(dir.path("a.kvt"));
  EXPECT_EQ(bytes.size(), 116 + 16 * 2 + 12 * 2 + (12 * 2 + 12 + 2 * 3));
  EXPECT_EQ(value_at<std::int32_t>(bytes, 112), 1);
  EXPECT_EQ(bytes.substr(116 + 16, 16), Bytes().i32(123456).raw("OH2X").i32(-4).raw("TIPW").str());
  const kvtfile back = kvtopen(1, dir.path("a.kvt"));
  EXPECT_EQ(back.status, 0);
  ASSERT_EQ(back.atoms.size(), 2u);
  EXPECT_EQ(back.atoms[0].name, "CA");
  EXPECT_EQ(back.atoms[0].resname, "ALA");
  EXPECT_EQ(back.atoms[0].chain, "A");
  EXPECT_EQ(back.atoms[1].number, 123456);
  EXPECT_EQ(back.atoms[1].name, "OH2X");
  EXPECT_EQ(back.atoms[1].resnum, -4);
  EXPECT_EQ(back.atoms[1].resname, "TIP");
  EXPECT_EQ(back.atoms[1].chain, "W");
  EXPECT_EQ(back.avg, s.avg);
  EXPECT_EQ(back.evecs, s.evecs);

  kvtfile partial = testing::handle_of(s, dir.path("b.kvt"));
  partial.atoms.resize(1);
  ASSERT_EQ(kvtclose(partial), 0);
  EXPECT_EQ(read_file(dir.path("b.kvt")).size(), kvt4_size(2, 3, 1));
}

TEST(KvtWrite, Kvt4RoundTripIsExact) {
  const testing::TempDir dir;
  const KvtSample s = make_sample(5, 9, 4);
  ASSERT_EQ(write_sample(s, dir.path("a.kvt")), 0);
  const kvtfile h = kvtopen(3, dir.path("a.kvt"));
  EXPECT_EQ(h.status, 0);
  EXPECT_EQ(h.magic, "KVT4");
  EXPECT_EQ(h.title, "sample title");
  EXPECT_EQ(h.unit, 3);
  EXPECT_EQ(h.natoms, 5);
  EXPECT_EQ(h.nframes, 9);
  EXPECT_EQ(h.nvecs, 4);
  EXPECT_EQ(h.avg, s.avg);
  EXPECT_EQ(h.evals, s.evals);
  EXPECT_EQ(h.evecs, s.evecs);
  EXPECT_EQ(h.proj, s.proj);
}

TEST(KvtWrite, NoVectorsGivesHeaderAndAverageOnly) {
  const testing::TempDir dir;
  const KvtSample s = make_sample(4, 6, 0);
  ASSERT_EQ(write_sample(s, dir.path("a.kvt")), 0);
  EXPECT_EQ(read_file(dir.path("a.kvt")).size(), 116u + 12 * 4);
  const kvtfile h = kvtopen(1, dir.path("a.kvt"));
  EXPECT_EQ(h.status, 0);
  EXPECT_EQ(h.nframes, 6);
  EXPECT_EQ(h.avg, s.avg);
  EXPECT_TRUE(h.evecs.empty());
}

TEST(KvtWrite, QualityBecomesPercentageAndComesBack) {
  const testing::TempDir dir;
  KvtSample s = make_sample(1, 2, 2);
  s.evals = {1.5f, 0.5f};  // sum 2
  ASSERT_EQ(write_sample(s, dir.path("q.kvt"), "KVT4", 4.0f), 0);
  const std::string bytes = read_file(dir.path("q.kvt"));
  EXPECT_EQ(value_at<float>(bytes, 96), 50.0f);
  EXPECT_EQ(kvtopen(1, dir.path("q.kvt")).quality, 4.0f);

  ASSERT_EQ(write_sample(s, dir.path("z.kvt"), "KVT4", 0.0f), 0);
  EXPECT_EQ(value_at<float>(read_file(dir.path("z.kvt")), 96), 0.0f);
  EXPECT_EQ(kvtopen(1, dir.path("z.kvt")).quality, 0.0f);
  ASSERT_EQ(write_sample(s, dir.path("n.kvt"), "KVT4", -3.0f), 0);
  EXPECT_EQ(kvtopen(1, dir.path("n.kvt")).quality, -3.0f);
}

TEST(KvtWrite, Kvt6RoundTripWithinOneStep) {
  const testing::TempDir dir;
  const KvtSample s = make_sample(6, 50, 3);
  ASSERT_EQ(write_sample(s, dir.path("a.kvt"), "KVT6"), 0);
  const kvtfile h = kvtopen(1, dir.path("a.kvt"));
  ASSERT_EQ(h.status, 0);
  EXPECT_EQ(h.magic, "KVT6");
  EXPECT_EQ(h.evecs, s.evecs);
  EXPECT_EQ(h.evals, s.evals);
  for (std::size_t k = 0; k < 3; ++k) {
    const auto begin = s.proj.begin() + static_cast<std::ptrdiff_t>(k * 50);
    const float step =
        (*std::max_element(begin, begin + 50) - *std::min_element(begin, begin + 50)) / 65534.0f;
    for (std::size_t i = k * 50; i < (k + 1) * 50; ++i) {
      EXPECT_LE(std::fabs(h.proj[i] - s.proj[i]), step * 1.001f) << i;
    }
  }
}

// Offset, scale and codes of vector 1 of a one-atom KVT6 file with these projections.
struct CodedBlock {
  float offset = 0, scale = 0;
  std::vector<std::int16_t> codes;
  std::vector<float> read_back;
};

CodedBlock code_block(const std::vector<float>& proj) {
  const testing::TempDir dir;
  KvtSample s = make_sample(1, static_cast<std::int32_t>(proj.size()), 1);
  s.proj = proj;
  EXPECT_EQ(write_sample(s, dir.path("c.kvt"), "KVT6"), 0);
  const std::string bytes = read_file(dir.path("c.kvt"));
  CodedBlock b;
  const std::size_t block = 116 + 12 + 12;  // header, average, eigenvector
  b.offset = value_at<float>(bytes, block + 4);
  b.scale = value_at<float>(bytes, block + 8);
  for (std::size_t i = 0; i < proj.size(); ++i) {
    b.codes.push_back(value_at<std::int16_t>(bytes, block + 12 + 2 * i));
  }
  b.read_back = kvtopen(1, dir.path("c.kvt")).proj;
  return b;
}

TEST(KvtWrite, Kvt6CodeCases) {
  const CodedBlock equal = code_block({3.5f, 3.5f, 3.5f});
  EXPECT_EQ(equal.offset, 3.5f);
  EXPECT_EQ(equal.scale, 0.0f);
  EXPECT_EQ(equal.codes, (std::vector<std::int16_t>{0, 0, 0}));
  EXPECT_EQ(equal.read_back, (std::vector<float>{3.5f, 3.5f, 3.5f}));

  const CodedBlock ends = code_block({-1.0f, 1.0f, 0.0f});
  EXPECT_EQ(ends.offset, 0.0f);
  EXPECT_EQ(ends.scale, 2.0f / 65534.0f);
  EXPECT_EQ(ends.codes, (std::vector<std::int16_t>{-32767, 32767, 0}));
  EXPECT_EQ(ends.read_back[2], 0.0f);  // code 0 is the offset exactly

  // Truncation toward zero: 0.75 of a step above the offset is code 0, 1.75 is code 1.
  const CodedBlock trunc = code_block({-32767.0f, 32767.0f, 0.75f, -1.75f});
  EXPECT_EQ(trunc.scale, 1.0f);
  EXPECT_EQ(trunc.codes[2], 0);
  EXPECT_EQ(trunc.codes[3], -1);
}

TEST(KvtWrite, Kvt6CodesAreDefinedForEveryInput) {
  const float inf = std::numeric_limits<float>::infinity();
  const CodedBlock odd = code_block({std::nanf(""), inf, -inf, 1.0f, 2.0f});
  EXPECT_EQ(odd.offset, 1.5f);
  EXPECT_EQ(odd.codes, (std::vector<std::int16_t>{0, 32767, -32767, -32767, 32767}));

  const CodedBlock underflow = code_block({0.0f, 1e-41f});
  EXPECT_EQ(underflow.scale, 0.0f);
  EXPECT_EQ(underflow.codes, (std::vector<std::int16_t>{0, 0}));

  const float big = std::numeric_limits<float>::max();
  const CodedBlock wide = code_block({-big, big, 0.0f});
  ASSERT_TRUE(std::isfinite(wide.scale));
  EXPECT_EQ(wide.codes[2], 0);
  EXPECT_LE(std::fabs(wide.read_back[0] + big), wide.scale);
  EXPECT_LE(std::fabs(wide.read_back[1] - big), wide.scale);

  const CodedBlock none = code_block({std::nanf(""), std::nanf("")});
  EXPECT_EQ(none.codes, (std::vector<std::int16_t>{0, 0}));
}

TEST(KvtWrite, WriteIndexOutsideTheVectorsStoresNothing) {
  const KvtSample s = make_sample(1, 2, 2);
  kvtfile h = testing::handle_of(s, "unused.kvt");
  const std::vector<float> evec{9, 9, 9}, proj{9, 9};
  EXPECT_EQ(kvtwrite(h, 3, evec, 9.0f, proj), -1);
  EXPECT_EQ(kvtwrite(h, 0, evec, 9.0f, proj), -1);
  EXPECT_EQ(h.evecs, s.evecs);
  EXPECT_EQ(h.evals, s.evals);
  EXPECT_EQ(h.proj, s.proj);
  // Storing a vector again replaces it.
  EXPECT_EQ(kvtwrite(h, 2, evec, 9.0f, proj), 0);
  EXPECT_EQ(kvtevec(h, 2), evec);
  EXPECT_EQ(kvtproj(h, 2), proj);
  EXPECT_EQ(kvtevals(h)[1], 9.0f);
}

TEST(KvtWriteFatal, BadCallsAreFatal) {
  const std::vector<float> three{1, 2, 3};
  KVTRAJ_EXPECT_FATAL(kvtcreate(1, "x", "t", -1, 2, 3, 0.0f, three),
                      "^kvtcreate: invalid counts \\(natoms -1, nframes 2, nvecs 3\\)\n$");
  KVTRAJ_EXPECT_FATAL(kvtcreate(1, "x", "t", 2, 2, 3, 0.0f, three),
                      "kvtcreate: average holds 3 reals, expected 6");
  kvtfile h = kvtcreate(1, "x", "t", 1, 2, 1, 0.0f, three);
  KVTRAJ_EXPECT_FATAL(kvtwrite(h, 1, std::vector<float>{1, 2}, 1.0f, std::vector<float>{1, 2}),
                      "kvtwrite: eigenvector holds 2 reals, expected 3");
}

TEST(KvtWriteFatal, CloseOfAClosedHandleIsFatal) {
  const testing::TempDir dir;
  kvtfile h = testing::handle_of(make_sample(2, 2, 1), dir.path("a.kvt"));
  ASSERT_EQ(kvtclose(h), 0);
  EXPECT_TRUE(h.avg.empty() && h.evecs.empty() && h.proj.empty() && h.evals.empty());
  KVTRAJ_EXPECT_FATAL(kvtclose(h), "kvtclose: the handle holds no arrays");
  KVTRAJ_EXPECT_FATAL(kvtwrite(h, 1, h.avg, 0.0f, h.proj), "kvtwrite: the handle holds no arrays");
}

TEST(KvtWriteFatal, OpenFailureIsFatalWithTheName) {
  const testing::TempDir dir;
  const std::string path = dir.path("missing/a.kvt");
  kvtfile h = testing::handle_of(make_sample(2, 2, 1), path);
  KVTRAJ_EXPECT_FATAL(kvtclose(h),
                      "^kvtclose: cannot open " + testing::literal_regex(path) + " for writing: ");
}

// Writes a handle far larger than 4096 bytes onto `path` under a 4096-byte file-size limit:
// 0 when kvtclose reports the failure and `path` still holds `good`.
int close_under_size_limit(const std::string& path, const std::string& good) {
  std::signal(SIGXFSZ, SIG_IGN);
  const rlimit limit{4096, 4096};
  if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 4;
  kvtfile big = testing::handle_of(make_sample(200, 100, 5), path);
  const std::int32_t status = kvtclose(big);
  return status != 0 && read_file(path) == good ? 0 : 3;
}

TEST(KvtWrite, FailedWriteIsReportedAndKeepsTheExistingFile) {
  kvtfile full = testing::handle_of(make_sample(2, 2, 1), "/dev/full");
  EXPECT_NE(kvtclose(full), 0);
  EXPECT_NE(full.status, 0);

  const testing::TempDir dir;
  const std::string path = dir.path("keep.kvt");
  ASSERT_EQ(write_sample(make_sample(1, 1, 1), path), 0);
  const std::string good = read_file(path);
  // In a child: a file-size limit makes the writes of a larger file fail part-way.
  EXPECT_EXIT(std::exit(close_under_size_limit(path, good)), ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(read_file(path), good);
}

TEST(KvtWrite, ClosingAnOpenedHandleRewritesTheSameFile) {
  const testing::TempDir dir;
  const std::string path = dir.path("a.kvt");
  KvtSample s = make_sample(3, 4, 2);
  s.evals = {3.0f, 1.0f};
  ASSERT_EQ(write_sample(s, path, "KVT4", 8.0f), 0);  // stores 50 %
  const std::string before = read_file(path);
  kvtfile h = kvtopen(1, path);
  ASSERT_EQ(h.quality, 8.0f);
  EXPECT_EQ(kvtclose(h), 0);
  EXPECT_EQ(read_file(path), before);
}

}  // namespace
}  // namespace kvtraj

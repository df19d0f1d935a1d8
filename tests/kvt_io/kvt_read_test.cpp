// kvtopen on files built byte by byte here (KVT0, KVT2, KVT4, KVT5, KVT6), truncated files,
// hostile headers and the fatal paths.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "kvt_io/kvt_io.hpp"
#include "rscode/rscode.hpp"
#include "tests/kvt_io/kvt_fixtures.hpp"
#include "tests/testsupport/testsupport.hpp"

namespace kvtraj {
namespace {

using testing::Bytes;
using testing::KvtSample;
using testing::literal_regex;
using testing::make_sample;
using testing::write_file;

// Header of the stream layouts with the given atom-record flag.
Bytes stream_header(const char* magic, std::int32_t n, std::int32_t f, std::int32_t v,
                    float quality = 0.0f, std::int32_t atom_flag = 0) {
  Bytes b;
  b.raw(magic).text("built by hand", 80).i32(n).i32(f).i32(v).f32(quality);
  b.i32(0).i32(0).i32(0).i32(atom_flag);
  return b;
}

// A KVT4 file of `s`, built without the writer under test.
Bytes kvt4_bytes(const KvtSample& s, std::int32_t atom_flag = 0) {
  Bytes b = stream_header("KVT4", s.natoms, s.nframes, s.nvecs, 0.0f, atom_flag);
  if (atom_flag == 1) {
    for (int a = 0; a < s.natoms; ++a) b.i32(a + 1).text("CA", 4).i32(7).text("ALA", 3).raw("A");
  }
  const auto n = static_cast<std::size_t>(3 * s.natoms);
  const auto f = static_cast<std::size_t>(s.nframes);
  for (float a : s.avg) b.f32(a);
  for (std::size_t k = 0; k < static_cast<std::size_t>(s.nvecs); ++k) {
    for (std::size_t j = 0; j < n; ++j) b.f32(s.evecs[k * n + j]);
    b.f32(s.evals[k]);
    for (std::size_t i = 0; i < f; ++i) b.f32(s.proj[k * f + i]);
  }
  return b;
}

void expect_sample(const kvtfile& h, const KvtSample& s) {
  EXPECT_EQ(h.status, 0);
  EXPECT_EQ(h.title, "built by hand");
  EXPECT_EQ(h.natoms, s.natoms);
  EXPECT_EQ(h.nframes, s.nframes);
  EXPECT_EQ(h.nvecs, s.nvecs);
  EXPECT_EQ(h.avg, s.avg);
  EXPECT_EQ(h.evals, s.evals);
  EXPECT_EQ(h.evecs, s.evecs);
  EXPECT_EQ(h.proj, s.proj);
}

// Vectors before `filled` hold the sample, the rest zeros.
void expect_filled(const kvtfile& h, const KvtSample& s, std::size_t filled) {
  const std::size_t n = s.avg.size(), f = static_cast<std::size_t>(s.nframes);
  for (std::size_t k = 0; k < static_cast<std::size_t>(s.nvecs); ++k) {
    for (std::size_t j = 0; j < n; ++j) {
      ASSERT_EQ(h.evecs[k * n + j], k < filled ? s.evecs[k * n + j] : 0.0f) << k << " " << j;
    }
    for (std::size_t i = 0; i < f; ++i) {
      ASSERT_EQ(h.proj[k * f + i], k < filled ? s.proj[k * f + i] : 0.0f) << k << " " << i;
    }
  }
}

TEST(KvtOpen, Kvt4WithAndWithoutAtomRecords) {
  const testing::TempDir dir;
  const KvtSample s = make_sample(4, 5, 3);
  write_file(dir.path("plain.kvt"), kvt4_bytes(s).str());
  write_file(dir.path("atoms.kvt"), kvt4_bytes(s, 1).str());
  expect_sample(kvtopen(1, dir.path("plain.kvt")), s);
  expect_sample(kvtopen(1, dir.path("atoms.kvt")), s);
  // Only a flag of exactly 1 announces atom records.
  write_file(dir.path("flag2.kvt"), kvt4_bytes(s, 2).str());
  expect_sample(kvtopen(1, dir.path("flag2.kvt")), s);
}

TEST(KvtOpen, Kvt4TruncatedInsideBlockThree) {
  const testing::TempDir dir;
  const KvtSample s = make_sample(3, 4, 5);
  const std::string full = kvt4_bytes(s).str();
  const std::size_t block = 12 * 3 + 4 + 4 * 4;
  write_file(dir.path("cut.kvt"), full.substr(0, 116 + 36 + 2 * block + 10));
  const kvtfile h = kvtopen(1, dir.path("cut.kvt"));
  EXPECT_LT(h.status, 0);  // end of file
  ASSERT_EQ(h.evecs.size(), s.evecs.size());
  expect_filled(h, s, 2);
  EXPECT_EQ(h.evals[1], s.evals[1]);
  EXPECT_EQ(h.evals[2], 0.0f);
}

TEST(KvtOpen, TruncatedFileKeepsTheStoredQuality) {
  const testing::TempDir dir;
  KvtSample s = make_sample(1, 2, 2);
  Bytes b = stream_header("KVT4", 1, 2, 2, 50.0f);
  for (float a : s.avg) b.f32(a);
  write_file(dir.path("q.kvt"), b.str());
  const kvtfile h = kvtopen(1, dir.path("q.kvt"));
  EXPECT_NE(h.status, 0);
  EXPECT_EQ(h.quality, 50.0f);
}

TEST(KvtOpen, Kvt6DecodesOffsetPlusCodeTimesScale) {
  const testing::TempDir dir;
  Bytes b = stream_header("KVT6", 1, 3, 1);
  b.f32(1).f32(2).f32(3);                           // average
  b.f32(0.5f).f32(0.25f).f32(-1.0f).f32(7.0f);      // eigenvector, eigenvalue
  b.f32(1.0f).f32(0.5f).i16(-32767).i16(0).i16(4);  // offset, scale, codes
  write_file(dir.path("a.kvt"), b.str());
  const kvtfile h = kvtopen(1, dir.path("a.kvt"));
  EXPECT_EQ(h.status, 0);
  EXPECT_EQ(h.evals, std::vector<float>{7.0f});
  EXPECT_EQ(h.evecs, (std::vector<float>{0.5f, 0.25f, -1.0f}));
  EXPECT_EQ(h.proj, (std::vector<float>{-16382.5f, 1.0f, 3.0f}));

  write_file(dir.path("cut.kvt"), b.str().substr(0, b.size() - 1));
  const kvtfile cut = kvtopen(1, dir.path("cut.kvt"));
  EXPECT_LT(cut.status, 0);
  EXPECT_EQ(cut.proj, (std::vector<float>{0, 0, 0}));
}

// KVT2: records of R bytes, 3N in the header.
std::string kvt2_bytes(const KvtSample& s, std::size_t record, float quality = 0.0f) {
  const auto n = s.avg.size(), f = static_cast<std::size_t>(s.nframes);
  auto pad = [record](Bytes& b) { b.raw(std::string((record - b.size() % record) % record, 0)); };
  Bytes b;
  b.raw("KVT2").text("built by hand", 80).i32(3 * s.natoms).i32(s.nframes).i32(s.nvecs);
  b.f32(quality);
  for (float a : s.avg) b.f32(a);
  for (std::size_t k = 0; k < static_cast<std::size_t>(s.nvecs); ++k) {
    pad(b);
    for (std::size_t j = 0; j < n; ++j) b.f32(s.evecs[k * n + j]);
    b.f32(s.evals[k]);
    for (std::size_t i = 0; i < f; ++i) b.f32(s.proj[k * f + i]);
  }
  return b.str();
}

TEST(KvtOpen, Kvt2RecordLengthIsTheLargerOfHeaderAndVector) {
  const testing::TempDir dir;
  const KvtSample narrow = make_sample(10, 5, 2);  // R = max(220, 144)
  write_file(dir.path("n.kvt"), kvt2_bytes(narrow, 220));
  expect_sample(kvtopen(1, dir.path("n.kvt")), narrow);
  const KvtSample wide = make_sample(10, 100, 3);  // R = max(220, 524)
  const std::string bytes = kvt2_bytes(wide, 524);
  ASSERT_EQ(bytes.size(), 3 * 524u + 524);
  write_file(dir.path("w.kvt"), bytes);
  const kvtfile h = kvtopen(1, dir.path("w.kvt"));
  expect_sample(h, wide);
  EXPECT_EQ(h.magic, "KVT2");
}

TEST(KvtOpen, Kvt2QualityAndTruncation) {
  const testing::TempDir dir;
  KvtSample s = make_sample(2, 3, 3);
  s.evals = {1.0f, 0.75f, 0.25f};
  write_file(dir.path("q.kvt"), kvt2_bytes(s, 100 + 24, 50.0f));
  EXPECT_EQ(kvtopen(1, dir.path("q.kvt")).quality, 4.0f);
  const std::string full = kvt2_bytes(s, 124);
  write_file(dir.path("cut.kvt"), full.substr(0, full.size() - 4));
  const kvtfile h = kvtopen(1, dir.path("cut.kvt"));
  EXPECT_LT(h.status, 0);
  expect_filled(h, s, 2);
  // A header record cut short returns at once, with no arrays.
  write_file(dir.path("head.kvt"), full.substr(0, 60));
  const kvtfile head = kvtopen(1, dir.path("head.kvt"));
  EXPECT_NE(head.status, 0);
  EXPECT_TRUE(head.avg.empty());
}

std::string without_last_line(const std::string& text) {
  return text.substr(0, text.rfind('\n', text.size() - 2) + 1);
}

// Reals in "(10f8.3)" lines; `implied` writes them without decimal point.
std::string f83_lines(const std::vector<float>& values, bool implied = false) {
  std::string out;
  char field[32];
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (implied) {
      std::snprintf(field, sizeof field, "%8ld", std::lround(values[i] * 1000.0f));
    } else {
      std::snprintf(field, sizeof field, "%8.3f", values[i]);
    }
    out += field;
    if (i % 10 == 9 || i + 1 == values.size()) out += '\n';
  }
  return out;
}

std::string text_header(const char* magic, const KvtSample& s, const char* quality) {
  char counts[64];
  std::snprintf(counts, sizeof counts, "%8d%8d%8d%s\n", s.natoms, s.nframes, s.nvecs, quality);
  return std::string(magic) + " written by the test\nbuilt by hand\n" + counts;
}

std::string kvt0_text(const KvtSample& s, bool implied = false) {
  std::string out = text_header("KVT0", s, "   0.000") + f83_lines(s.avg, implied);
  const auto n = s.avg.size(), f = static_cast<std::size_t>(s.nframes);
  for (std::size_t k = 0; k < static_cast<std::size_t>(s.nvecs); ++k) {
    out += f83_lines({s.evecs.begin() + static_cast<std::ptrdiff_t>(k * n),
                      s.evecs.begin() + static_cast<std::ptrdiff_t>((k + 1) * n)},
                     implied);
    out += f83_lines({s.evals[k]}, implied);
    out += f83_lines({s.proj.begin() + static_cast<std::ptrdiff_t>(k * f),
                      s.proj.begin() + static_cast<std::ptrdiff_t>((k + 1) * f)},
                     implied);
  }
  return out;
}

TEST(KvtOpen, Kvt0ReadsByColumns) {
  const testing::TempDir dir;
  const KvtSample s = make_sample(4, 12, 2);  // 12 coordinates: two lines per block
  write_file(dir.path("a.kvt"), kvt0_text(s));
  expect_sample(kvtopen(1, dir.path("a.kvt")), s);
  write_file(dir.path("implied.kvt"), kvt0_text(s, true));
  expect_sample(kvtopen(1, dir.path("implied.kvt")), s);
}

TEST(KvtOpen, Kvt0QualityShortLinesAndTruncation) {
  const testing::TempDir dir;
  KvtSample s = make_sample(1, 2, 1);
  s.evals = {2.0f};
  // Quality 50 with implied decimals; the title line is short and the average line has a CR.
  std::string text = "KVT0\nbuilt by hand\n       1       2       1   50000\n";
  text += "  -2.000  -1.875  -1.750\r\n" + f83_lines({s.evecs}) + "   2.000\n" + f83_lines(s.proj);
  write_file(dir.path("q.kvt"), text);
  const kvtfile h = kvtopen(1, dir.path("q.kvt"));
  expect_sample(h, s);
  EXPECT_EQ(h.quality, 4.0f);

  const KvtSample three = make_sample(2, 3, 3);
  const std::string full = kvt0_text(three);
  write_file(dir.path("cut.kvt"), without_last_line(full));
  const kvtfile cut = kvtopen(1, dir.path("cut.kvt"));
  EXPECT_LT(cut.status, 0);
  expect_filled(cut, three, 2);

  std::string bad = full;
  bad[bad.size() - 4] = 'x';
  write_file(dir.path("bad.kvt"), bad);
  const kvtfile b = kvtopen(1, dir.path("bad.kvt"));
  EXPECT_GT(b.status, 0);
  expect_filled(b, three, 2);
}

std::string code_lines(const std::vector<float>& values) {
  std::string out;
  for (std::size_t i = 0; i < values.size(); ++i) {
    const auto c = rtos(values[i]);
    out.append(c.begin(), c.end());
    if (i % 16 == 15 || i + 1 == values.size()) out += '\n';
  }
  return out;
}

TEST(KvtOpen, Kvt5CodesInSixteenColumns) {
  const testing::TempDir dir;
  KvtSample s = make_sample(6, 9, 2);  // 18 codes of average, blocks of 28 codes
  s.avg[0] = 0.1f;                     // not exact in three decimals: codes keep every bit
  std::string text = text_header("KVT5", s, "   0.000") + code_lines(s.avg);
  const auto n = s.avg.size(), f = static_cast<std::size_t>(s.nframes);
  for (std::size_t k = 0; k < 2; ++k) {
    std::vector<float> block(s.evecs.begin() + static_cast<std::ptrdiff_t>(k * n),
                             s.evecs.begin() + static_cast<std::ptrdiff_t>((k + 1) * n));
    block.push_back(s.evals[k]);
    block.insert(block.end(), s.proj.begin() + static_cast<std::ptrdiff_t>(k * f),
                 s.proj.begin() + static_cast<std::ptrdiff_t>((k + 1) * f));
    text += code_lines(block);
  }
  write_file(dir.path("a.kvt"), text);
  const kvtfile h = kvtopen(1, dir.path("a.kvt"));
  EXPECT_EQ(h.magic, "KVT5");
  expect_sample(h, s);
  write_file(dir.path("cut.kvt"), without_last_line(text));
  const kvtfile cut = kvtopen(1, dir.path("cut.kvt"));
  EXPECT_LT(cut.status, 0);
  expect_filled(cut, s, 1);
}

TEST(KvtOpenFatal, MissingFileAndUnknownMagic) {
  const testing::TempDir dir;
  const std::string missing = dir.path("none.kvt");
  KVTRAJ_EXPECT_FATAL(kvtopen(1, missing + "   "),
                      "^ " + literal_regex(missing) + ": no such file\\?\n$");
  const std::string marker = dir.path("marker.kvt");
  write_file(marker, Bytes().i32(116).raw("KVT4").str());  // a four-byte record marker
  KVTRAJ_EXPECT_FATAL(kvtopen(1, marker),
                      "^ " + literal_regex(marker) + ":  unrecognised kvt file format\n$");
  write_file(marker, "KV");
  KVTRAJ_EXPECT_FATAL(kvtopen(1, marker), literal_regex(marker) + ": too short for a kvt file");
}

TEST(KvtOpenFatal, HostileHeadersEndWithAMessage) {
  const testing::TempDir dir;
  const std::string path = dir.path("h.kvt");
  write_file(path, stream_header("KVT4", -5, 2, 1).str());
  KVTRAJ_EXPECT_FATAL(kvtopen(1, path),
                      "invalid kvt header counts \\(natoms -5, nframes 2, nvecs 1\\)");
  write_file(path, stream_header("KVT6", 1000, 1000, 2147483647).str());
  KVTRAJ_EXPECT_FATAL(kvtopen(1, path), "kvt header counts .* exceed what the file holds");
  write_file(path, stream_header("KVT4", 2147483647, 2147483647, 2147483647).str());
  KVTRAJ_EXPECT_FATAL(kvtopen(1, path), "invalid kvt header counts");
  write_file(path, stream_header("KVT4", 100000000, 0, 0, 0.0f, 1).str());  // atom records
  KVTRAJ_EXPECT_FATAL(kvtopen(1, path), "exceed what the file holds");
  write_file(path, stream_header("KVT4", 1, 1, 1).str().substr(0, 115));
  KVTRAJ_EXPECT_FATAL(kvtopen(1, path), literal_regex(path) + ": truncated kvt header");

  Bytes kvt2;
  kvt2.raw("KVT2").text("", 80).i32(300).i32(1 << 30).i32(1 << 30).f32(0);
  write_file(path, kvt2.str());
  KVTRAJ_EXPECT_FATAL(kvtopen(1, path), "exceed what the file holds");
  write_file(path, "KVT0\ntitle\n      -1       1       1   0.000\n");
  KVTRAJ_EXPECT_FATAL(kvtopen(1, path), "invalid kvt header counts");
  write_file(path, "KVT5\ntitle\n  1x\n");
  KVTRAJ_EXPECT_FATAL(kvtopen(1, path), literal_regex(path) + ": bad counts in the kvt header");
  write_file(path, "KVT0\ntitle\n       1       0       0   0.000\n");
  KVTRAJ_EXPECT_FATAL(kvtopen(1, path), literal_regex(path) + ": cannot read the kvt average");
}

}  // namespace
}  // namespace kvtraj

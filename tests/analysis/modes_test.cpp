// What one file says of its vectors: fluctuations, the motion along a vector, the NMD file.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <sstream>

#include "analysis/analysis.hpp"
#include "analysis/stored_pca.hpp"

namespace kvtraj::analysis {
namespace {

constexpr std::int32_t kAtoms = 12;
constexpr std::int64_t kFrames = 150;

kvtfile stored(const kvtraj::testing::TempDir& dir) {
  return testing::compressed(pca::testing::known_spectrum(kAtoms, kFrames, 6, 0.02f, 11), kAtoms, 4,
                             dir);
}

TEST(Rmsf, EqualsTheFluctuationOfTheRebuiltSnapshots) {
  kvtraj::testing::TempDir dir;
  const kvtfile kvtf = stored(dir);
  ASSERT_EQ(kvtf.status, 0);
  std::vector<double> sum(kAtoms, 0.0);
  for (std::int32_t i = 1; i <= kvtf.nframes; ++i) {
    const std::vector<float> snap = kvtsnap(kvtf, i);
    for (std::size_t c = 0; c < snap.size(); ++c) {
      const double d = snap[c] - kvtf.avg[c];
      sum[c / 3] += d * d;
    }
  }
  const std::vector<float> r = rmsf(kvtf);
  ASSERT_EQ(r.size(), static_cast<std::size_t>(kAtoms));
  for (std::int32_t a = 0; a < kAtoms; ++a) {
    const double direct = std::sqrt(sum[a] / kvtf.nframes);
    EXPECT_NEAR(r[a], direct, 1e-3 * direct) << "atom " << a + 1;
  }
}

TEST(Motion, GoesFromTheSmallestToTheLargestProjectionAndBack) {
  kvtraj::testing::TempDir dir;
  const kvtfile kvtf = stored(dir);
  const std::int32_t k = 2;
  const auto proj = std::span(kvtf.proj).subspan((k - 1) * kFrames, kFrames);
  const float low = *std::min_element(proj.begin(), proj.end());
  const float high = *std::max_element(proj.begin(), proj.end());
  const std::vector<float> p = mode_amplitudes(kvtf, k, 5, 1.0f);
  ASSERT_EQ(p.size(), 8u);
  EXPECT_EQ(p[0], low);
  EXPECT_EQ(p[4], high);
  EXPECT_NEAR(p[2], 0.5 * (low + high), 1e-5 * (high - low));
  EXPECT_EQ(p[5], p[3]);
  EXPECT_EQ(p[7], p[1]);
  EXPECT_EQ(mode_amplitudes(kvtf, k, 5, 2.0f)[4], 2.0f * high);

  std::vector<float> frame(kvtf.avg.size());
  mode_structure(kvtf, k, p[1], frame);
  for (std::size_t c = 0; c < frame.size(); ++c) {
    EXPECT_EQ(frame[c], kvtf.avg[c] + p[1] * kvtf.evecs[(k - 1) * frame.size() + c]);
  }
  KVTRAJ_EXPECT_FATAL(mode_amplitudes(kvtf, 5, 5, 1.0f), "vectors 5:5 are outside the file's 1..4");
  KVTRAJ_EXPECT_FATAL(mode_amplitudes(kvtf, 1, 1, 1.0f), "needs 2 structures or more");
}

// A reader of NMD text as VMD's Normal Mode Wizard describes it: keyword, then blank-separated
// values; "mode" lines may start with the mode's number and scale before the 3N components.
struct Nmd {
  std::map<std::string, std::vector<std::string>> fields;
  std::vector<std::vector<double>> modes;
};

Nmd parse_nmd(const std::string& text, std::size_t coordinates) {
  Nmd nmd;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::string key, word;
    words >> key;
    std::vector<std::string> values;
    while (words >> word) values.push_back(word);
    if (key != "mode") {
      nmd.fields[key] = values;
      continue;
    }
    std::vector<double> mode;
    for (const std::string& v : values) mode.push_back(std::stod(v));
    EXPECT_GE(mode.size(), coordinates);
    nmd.modes.push_back(mode);
  }
  return nmd;
}

TEST(Nmd, ReadsBackAsTheFileItWasWrittenFrom) {
  kvtraj::testing::TempDir dir;
  kvtfile kvtf = stored(dir);
  for (std::int32_t a = 0; a < kAtoms; ++a) {
    kvtf.atoms.push_back({a + 1, a % 2 ? "CA" : "N", a / 2 + 1, "GLY", "B"});
  }
  const std::string path = dir.path("run.nmd");
  write_nmd(path, kvtf, 3);
  const std::size_t n = 3 * kAtoms;
  const Nmd nmd = parse_nmd(kvtraj::testing::read_file(path), n);
  ASSERT_EQ(nmd.fields.at("coordinates").size(), n);
  for (std::size_t c = 0; c < n; ++c) {
    EXPECT_NEAR(std::stod(nmd.fields.at("coordinates")[c]), kvtf.avg[c], 5e-4);
  }
  EXPECT_EQ(nmd.fields.at("atomnames")[1], "CA");
  EXPECT_EQ(nmd.fields.at("resids")[kAtoms - 1], std::to_string(kAtoms / 2));
  EXPECT_EQ(nmd.fields.at("chainids").size(), static_cast<std::size_t>(kAtoms));
  ASSERT_EQ(nmd.modes.size(), 3u);
  for (std::size_t k = 0; k < 3; ++k) {
    const std::vector<double>& m = nmd.modes[k];
    ASSERT_EQ(m.size(), n + 2);
    EXPECT_EQ(m[0], static_cast<double>(k + 1));
    EXPECT_NEAR(m[1], std::sqrt(kvtf.evals[k]), 1e-5 * std::sqrt(kvtf.evals[k]));
    for (std::size_t c = 0; c < n; ++c) EXPECT_NEAR(m[c + 2], kvtf.evecs[k * n + c], 1e-6);
  }
  // A blank chain would shift the atoms of a reader that splits on blanks: it is left out.
  for (AtomRecord& a : kvtf.atoms) a.chain = "";
  write_nmd(path, kvtf, 1);
  EXPECT_EQ(parse_nmd(kvtraj::testing::read_file(path), n).fields.count("chainids"), 0u);
  KVTRAJ_EXPECT_FATAL(write_nmd(dir.path("none.nmd"), kvtf, 5), "outside the file's 1..4");
}

}  // namespace
}  // namespace kvtraj::analysis

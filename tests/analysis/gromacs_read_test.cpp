// The eigenvector files of gmx covar read back: GROMACS's own files, ours written by export, and
// copies of GROMACS's files damaged in each way the reader must refuse.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <functional>

#include "analysis/analysis.hpp"
#include "analysis/stored_pca.hpp"
#include "fmtwriters/fmtwriters.hpp"

namespace kvtraj::analysis {
namespace {

using kvtraj::testing::data_path;
using kvtraj::testing::read_file;
using kvtraj::testing::TempDir;
using kvtraj::testing::write_file;

// The layout of the single-precision frames of 200 atoms in the fixtures: a header of 84 bytes
// (the step at 68), the box (36 bytes), then the coordinates.
constexpr std::size_t kFrameBytes = 2520;
constexpr std::size_t kStepAt = 68;
constexpr std::size_t kCoordinatesAt = 120;

std::string covar(const std::string& kind, const std::string& name) {
  return data_path("covar/" + kind + "/" + name);
}

void put_big32(std::string& bytes, std::size_t at, std::uint32_t v) {
  v = __builtin_bswap32(v);
  std::memcpy(bytes.data() + at, &v, sizeof v);
}

double dot(const GromacsPca& p, std::int32_t i, std::int32_t j) {
  const std::size_t n = p.average.size();
  double s = 0.0;
  for (std::size_t r = 0; r < n; ++r) s += double{p.evecs[i * n + r]} * p.evecs[j * n + r];
  return s;
}

TEST(GromacsRead, GmxCovarFilesAndOurExportReadBack) {
  for (const char* kind : {"fit", "nofit"}) {
    const GromacsPca p = read_gromacs(covar(kind, "eigenvec.trr"), covar(kind, "eigenval.xvg"));
    EXPECT_EQ(p.natoms, 200);
    ASSERT_EQ(p.nvecs, 8);
    EXPECT_EQ(p.average.size(), 600u);
    EXPECT_EQ(p.reference.size(), 600u);
    for (std::int32_t i = 0; i < p.nvecs; ++i) {
      for (std::int32_t j = 0; j <= i; ++j) EXPECT_NEAR(dot(p, i, j), i == j, 1e-5) << i << j;
      if (i > 0) {
        EXPECT_LE(p.evals[i], p.evals[i - 1]);
      }
    }
    // Å² from the first row of eigenval.xvg ("1 0.562034" for the fitted run).
    if (std::string(kind) == "fit") {
      EXPECT_NEAR(p.evals[0], 56.2034f, 1e-3f);
    }
  }
  EXPECT_EQ(eigenvalues_beside(covar("fit", "eigenvec.trr")), covar("fit", "eigenval.xvg"));

  const TempDir dir;
  const kvtfile kvtf =
      testing::compressed(pca::testing::known_spectrum(7, 60, 4, 0.02f, 5), 7, 4, dir);
  ASSERT_TRUE(write_gromacs(dir.path("pca"), kvtf));
  EXPECT_EQ(eigenvalues_beside(dir.path("pca.trr")), dir.path("pca.xvg"));
  const GromacsPca p = read_gromacs(dir.path("pca.trr"), dir.path("pca.xvg"));
  ASSERT_EQ(p.nvecs, kvtf.nvecs);
  ASSERT_EQ(p.natoms, kvtf.natoms);
  for (std::size_t i = 0; i < p.average.size(); ++i) {
    EXPECT_NEAR(p.average[i], kvtf.avg[i], 1e-5f * (1.0f + std::fabs(kvtf.avg[i])));
  }
  EXPECT_EQ(p.evecs, kvtf.evecs);
  for (std::int32_t k = 0; k < p.nvecs; ++k) {
    EXPECT_NEAR(p.evals[k], kvtf.evals[k], 1e-6f * kvtf.evals[k]);
  }
}

struct Damage {
  const char* what;
  std::function<void(std::string& trr, std::string& xvg)> apply;
  const char* message;
};

TEST(GromacsRead, RefusesWhatGmxCovarDoesNotWrite) {
  const std::string good_trr = read_file(covar("fit", "eigenvec.trr"));
  const std::string good_xvg = read_file(covar("fit", "eigenval.xvg"));
  ASSERT_EQ(good_trr.size(), 10 * kFrameBytes);
  const auto frame = [](std::size_t k) { return k * kFrameBytes; };  // from 0
  const std::vector<Damage> damages = {
      {"cut after the reference", [&](auto& t, auto&) { t.resize(frame(1)); },
       "frame 2 \\(the average\\) is missing"},
      {"cut after the average", [&](auto& t, auto&) { t.resize(frame(2)); },
       "holds no eigenvectors"},
      {"cut inside a vector", [&](auto& t, auto&) { t.resize(frame(4) + 1000); },
       "frame 5 is cut or malformed"},
      {"no reference", [&](auto& t, auto&) { t.erase(0, kFrameBytes); },
       "frame 1 has step 0 where the reference structure \\(step -1\\) belongs"},
      {"vectors out of order",
       [&](auto& t, auto&) {
         const std::string third = t.substr(frame(2), kFrameBytes);
         t.replace(frame(2), kFrameBytes, t.substr(frame(3), kFrameBytes));
         t.replace(frame(3), kFrameBytes, third);
       },
       "frame 3 has step 2 where eigenvector 1 \\(step 1\\) belongs"},
      {"a vector skipped", [&](auto& t, auto&) { put_big32(t, frame(5) + kStepAt, 5); },
       "frame 6 has step 5 where eigenvector 4"},
      {"not unit length",
       [&](auto& t, auto&) {
         put_big32(t, frame(4) + kCoordinatesAt, std::bit_cast<std::uint32_t>(0.5f));
       },
       "frame 5 is a vector of length [0-9.]+, not 1"},
      {"an eigenvalue short", [&](auto&, auto& x) { x.erase(x.rfind("         8")); },
       "lists 7 eigenvalues, .* holds 8 eigenvectors"},
      {"an eigenvalue changed", [&](auto&, auto& x) { x.replace(x.find("0.24158"), 7, "0.24258"); },
       "eigenvalue 2 is 0.24258 in .* but 0.24158"},
      {"a row that is not one", [&](auto&, auto& x) { x += "9 0.01 extra\n"; },
       "line 26 is not the row of eigenvalue 9"},
      {"not a TRR file", [&](auto& t, auto& x) { t = x; }, "no magic number in trr file"},
  };
  const TempDir dir;
  for (const Damage& d : damages) {
    std::string trr = good_trr, xvg = good_xvg;
    d.apply(trr, xvg);
    write_file(dir.path("v.trr"), trr);
    write_file(dir.path("v.xvg"), xvg);
    SCOPED_TRACE(d.what);
    KVTRAJ_EXPECT_FATAL(read_gromacs(dir.path("v.trr"), dir.path("v.xvg")), d.message);
  }
  KVTRAJ_EXPECT_FATAL(read_gromacs(covar("mwa", "eigenvec.trr"), covar("mwa", "eigenval.xvg")),
                      "a mass-weighted analysis");

  // A vector of other atoms after an average of 3: two files of our writer spliced.
  const std::vector<float> three(9, 0.1f), unit2 = {1, 0, 0, 0, 0, 0};
  auto head = StampedTrr::create(dir.path("head.trr"), 3);
  ASSERT_TRUE(head && head->write(three, {-1, -1.0f, 0.0f}) &&
              head->write(three, {0, 0.0f, 0.0f}) && head->finish());
  auto tail = StampedTrr::create(dir.path("tail.trr"), 2);
  ASSERT_TRUE(tail && tail->write(unit2, {1, 0.5f, 0.0f}) && tail->finish());
  write_file(dir.path("v.trr"), read_file(dir.path("head.trr")) + read_file(dir.path("tail.trr")));
  write_file(dir.path("v.xvg"), "1 0.5\n");
  KVTRAJ_EXPECT_FATAL(read_gromacs(dir.path("v.trr"), dir.path("v.xvg")),
                      "frame 3 \\(eigenvector 1\\) holds 2 atoms, the average 3");
}

}  // namespace
}  // namespace kvtraj::analysis

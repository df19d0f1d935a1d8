// The randomized solver against the exact one, on real MD (the bundled peptide run, fitted) and
// on generated frames with a slowly decaying spectrum: eigenvalues, vectors, captured variance,
// the expected reconstruction error against the actual one, and a budget too small to run.
#include <gtest/gtest.h>

#include <cmath>

#include "fmtreaders/fmtreaders.hpp"
#include "pca/pca.hpp"
#include "support/fatal.hpp"
#include "tests/pca/memory_reader.hpp"
#include "trajsrc/trajsrc.hpp"

namespace kvtraj::pca {
namespace {

using testing::known_spectrum;
using testing::MemoryReader;

std::vector<float> sample_frames(std::int32_t& natoms) {
  f77_molfile_init();
  natoms = 0;
  trajectory t = xopen(KVTRAJ_SAMPLE, natoms);
  std::vector<float> x(static_cast<std::size_t>(3 * natoms) * t.nsnaps);
  for (std::int32_t i = 1; i <= t.nsnaps; ++i) {
    xsnap(t,
          std::span<float>(x).subspan(static_cast<std::size_t>(3 * natoms) * (i - 1), 3 * natoms),
          i);
  }
  xclose(t);
  return x;
}

double percent(const Components& c, std::int32_t k) {
  double sum = 0.0;
  for (std::int32_t i = 0; i < k; ++i) sum += c.eigenvalues[i];
  return 100.0 * sum / c.total;
}

void expect_agreement(MemoryReader& reader, bool fit) {
  Options o;
  o.fit = fit;
  o.choice = {VectorChoice::count, 10};
  o.solver = Solver::exact;
  const Components exact = analyse(reader, o);
  o.solver = Solver::randomized;
  const Components rand = analyse(reader, o);
  ASSERT_EQ(rand.kept, 10);
  const std::int64_t n = 3 * static_cast<std::int64_t>(reader.natoms());
  EXPECT_NEAR(rand.total, exact.total, 1e-5 * exact.total);
  for (int k = 0; k < 10; ++k) {
    EXPECT_NEAR(rand.eigenvalues[k], exact.eigenvalues[k], 1e-3 * exact.eigenvalues[k]) << k;
  }
  for (int k = 0; k < 5; ++k) {
    double dot = 0.0;
    for (std::int64_t i = 0; i < n; ++i)
      dot += double(rand.vectors[i + k * n]) * exact.vectors[i + k * n];
    EXPECT_GE(std::abs(dot), 0.999) << k;
  }
  EXPECT_NEAR(percent(rand, 10), percent(exact, 10), 0.1);
}

TEST(Randomized, AgreesWithExactOnRealMd) {
  std::int32_t natoms = 0;
  auto frames = sample_frames(natoms);
  MemoryReader reader(std::move(frames), natoms);
  expect_agreement(reader, true);
}

// Twenty frames: the basis must hold the random start block besides the range they span.
TEST(Randomized, AgreesWithExactOnFewFrames) {
  std::int32_t natoms = 0;
  auto frames = sample_frames(natoms);
  frames.resize(static_cast<std::size_t>(3 * natoms) * 20);
  MemoryReader reader(std::move(frames), natoms);
  expect_agreement(reader, true);
}

TEST(Randomized, AgreesWithExactOnASlowlyDecayingSpectrum) {
  MemoryReader reader(known_spectrum(300, 2000, 400, 0.02f, 3), 300);
  expect_agreement(reader, false);
}

TEST(Randomized, ExpectedErrorMatchesTheRebuiltFramesAndQualityGrowsK) {
  const std::int32_t natoms = 200;
  const auto x = known_spectrum(natoms, 1500, 300, 0.02f, 4);
  MemoryReader reader(x, natoms);
  Options o;
  o.fit = false;
  o.solver = Solver::randomized;
  o.choice = {VectorChoice::quality, 80.0};
  const Components c = analyse(reader, o);
  o.solver = Solver::exact;
  const Components e = analyse(reader, o);
  EXPECT_GT(c.kept, 40);  // well beyond the first block of 40
  EXPECT_LE(std::abs(c.kept - e.kept), 1);
  EXPECT_GE(percent(c, c.kept), 80.0);

  const std::int64_t n = 3 * natoms, frames = 1500;
  double squares = 0.0;
  for (std::int64_t f = 0; f < frames; ++f) {
    for (std::int64_t i = 0; i < n; ++i) {
      double rebuilt = c.average[i];
      for (std::int32_t k = 0; k < c.kept; ++k)
        rebuilt += double(c.vectors[i + k * n]) * c.proj[f + k * frames];
      const double d = x[i + f * n] - rebuilt;
      squares += d * d;
    }
  }
  const double actual = std::sqrt(squares / (frames * natoms));
  const double expected = expected_rmsd(c.eigenvalues, c.total, c.kept, natoms);
  EXPECT_GE(expected, 0.85 * actual);
  EXPECT_LE(expected, 1.01 * actual);
}

TEST(Randomized, BudgetTooSmallIsFatal) {
  const FatalAction previous = set_fatal_action(throw_fatal_error);
  MemoryReader reader(known_spectrum(100, 300, 20, 0.02f, 5), 100);
  Options o;
  o.solver = Solver::randomized;
  o.memory_bytes = 100000;
  EXPECT_THROW(analyse(reader, o), FatalError);
  set_fatal_action(previous);
}

}  // namespace
}  // namespace kvtraj::pca

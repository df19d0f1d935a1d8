// The engine's exact route against a direct in-memory double computation (covariance and Gram
// routes, across block and panel boundaries), the choice of vectors, the streamed fit rounds,
// and the passes' faults: an input that changes, the temporary copy of a slow input, a
// cancelled analysis.
#include "pca/pca.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <random>
#include <string>

#include "pca/centre.hpp"
#include "pca/stream.hpp"
#include "support/fatal.hpp"
#include "tests/pca/memory_reader.hpp"
#include "tests/testsupport/testsupport.hpp"

namespace kvtraj::pca {
namespace {

using testing::covariance_eigenvalues;
using testing::known_spectrum;
using testing::MemoryReader;

class Fatal : public ::testing::Test {
 protected:
  void SetUp() override { previous_ = set_fatal_action(throw_fatal_error); }
  void TearDown() override { set_fatal_action(previous_); }
  FatalAction previous_ = nullptr;
};

double column_dot(const std::vector<float>& a, const std::vector<float>& b, std::int64_t n,
                  std::int32_t k) {
  double dot = 0.0;
  for (std::int64_t i = 0; i < n; ++i) dot += double(a[i + k * n]) * b[i + k * n];
  return dot;
}

TEST_F(Fatal, ExactRoutesMatchADirectComputation) {
  struct Case {
    std::int32_t natoms;
    std::int64_t frames;
    std::int64_t memory;  // small budgets force several Gram panels
  };
  // 20 atoms x 1100 frames: covariance in two panels of columns, over blocks the last of them
  // partial; 200 atoms x 150 frames: Gram matrix in one panel of frames, then in four.
  for (const Case c : {Case{20, 1100, 0}, Case{200, 150, 0}, Case{200, 150, 370000}}) {
    const std::int64_t n = 3 * c.natoms;
    const auto x = known_spectrum(c.natoms, c.frames, 12, 0.05f, 5);
    MemoryReader reader(x, c.natoms);
    Options o;
    o.fit = false;
    o.solver = Solver::exact;
    o.memory_bytes = c.memory;
    o.choice = {VectorChoice::count, 5};
    const Components got = analyse(reader, o);
    const auto want = covariance_eigenvalues(x, n, 0, c.frames);
    ASSERT_EQ(got.kept, 5);
    double total = 0.0;
    for (const double v : want) total += v;
    EXPECT_NEAR(got.total, total, 1e-5 * total);
    for (int k = 0; k < 10; ++k) EXPECT_NEAR(got.eigenvalues[k], want[k], 1e-5 * want[k]) << k;
    for (std::int32_t k = 0; k < got.kept; ++k) {
      EXPECT_NEAR(column_dot(got.vectors, got.vectors, n, k), 1.0, 1e-5);
      // Projections on a unit eigenvector have the eigenvalue as their mean square.
      double square = 0.0;
      for (std::int64_t s = 0; s < c.frames; ++s) {
        square += double(got.proj[s + k * c.frames]) * got.proj[s + k * c.frames];
      }
      EXPECT_NEAR(square / c.frames, want[k], 1e-4 * want[k]) << k;
    }
    // Average, four Gram panels, vectors.
    if (c.memory > 0) {
      EXPECT_GT(got.passes, 3);
    }
  }
}

TEST_F(Fatal, VectorChoiceByCountQualityAndRmsd) {
  const std::vector<float> ev = {4.0f, 3.0f, 2.0f, 1.0f};
  const double total = 10.0;
  using K = VectorChoice;
  EXPECT_EQ(choose_vectors(ev, total, 4, 1, {K::quality, 70.0}), 2);
  EXPECT_EQ(choose_vectors(ev, total, 4, 1, {K::quality, 71.0}), 3);
  EXPECT_EQ(choose_vectors(ev, total, 4, 1, {K::quality, 0.0}), 0);
  EXPECT_EQ(choose_vectors(ev, total, 3, 1, {K::quality, 100.0}), 3);  // never above the rank
  // One atom: discarded variance 10, 6, 3, 1, 0 for 0..4 vectors kept.
  EXPECT_EQ(choose_vectors(ev, total, 4, 1, {K::rmsd, 1.0}), 3);
  EXPECT_EQ(choose_vectors(ev, total, 4, 1, {K::rmsd, 0.99}), 4);
  EXPECT_EQ(choose_vectors(ev, total, 4, 4, {K::rmsd, 1.0}), 2);  // sqrt(3 / 4) <= 1
  EXPECT_DOUBLE_EQ(expected_rmsd(ev, total, 1, 6), 1.0);
  EXPECT_EQ(choose_vectors(ev, total, 4, 1, {K::count, 4.0}), 4);
  EXPECT_THROW(choose_vectors(ev, total, 3, 1, {K::count, 4.0}), FatalError);
  EXPECT_EQ(numeric_rank(std::vector<float>{5.0f, 1.0f, 1e-4f, 1e-9f, -1e-9f}), 3);
  EXPECT_EQ(numeric_rank(std::vector<float>{0.0f, 0.0f}), 0);
}

// Rotation about z by `angle` and a shift, applied to every atom.
std::vector<float> moved(const std::vector<float>& xyz, double angle, float shift) {
  std::vector<float> out(xyz.size());
  const double c = std::cos(angle), s = std::sin(angle);
  for (std::size_t i = 0; i < xyz.size(); i += 3) {
    out[i] = static_cast<float>(c * xyz[i] - s * xyz[i + 1]) + shift;
    out[i + 1] = static_cast<float>(s * xyz[i] + c * xyz[i + 1]) - shift;
    out[i + 2] = xyz[i + 2] + 0.5f * shift;
  }
  return out;
}

TEST_F(Fatal, FitRoundsCollapseRigidCopiesAndStopWhenTheAverageSettles) {
  const std::vector<float> shape = {0, 0, 0, 1.5f, 0, 0, 1.5f, 1.5f, 0, 0, 2, 1, -1, 0.5f, 2};
  std::vector<float> rigid;
  for (int f = 0; f < 6; ++f) {
    const auto copy = moved(shape, 0.4 * f, 0.7f * f);
    rigid.insert(rigid.end(), copy.begin(), copy.end());
  }
  MemoryReader reader(rigid, 5);
  Cores one(1), two(2);
  Reducer single;
  FrameStream stream(reader, 0, 6, {}, one, single);
  const Centre c = find_centre(stream, FitSpec{true, {}, {}}, one, single);
  EXPECT_LE(c.rounds, 2);
  EXPECT_EQ(stream.passes(), c.rounds);
  for (std::size_t i = 0; i < shape.size(); ++i) EXPECT_NEAR(c.average[i], shape[i], 1e-4f);

  std::mt19937 rng(11);
  std::normal_distribution<float> noise(0.0f, 0.5f);
  std::vector<float> base(60), noisy;
  for (float& v : base) v = 4.0f * noise(rng);
  for (int f = 0; f < 40; ++f) {
    auto copy = moved(base, 0.1 * f, 0.2f * f);
    for (float& v : copy) v += noise(rng);
    noisy.insert(noisy.end(), copy.begin(), copy.end());
  }
  MemoryReader noisy_reader(noisy, 20);
  FrameStream noisy_stream(noisy_reader, 0, 40, {}, two, single);
  const Centre d = find_centre(noisy_stream, FitSpec{true, {}, {}}, two, single);
  EXPECT_GE(d.rounds, 2);
  EXPECT_TRUE(d.movement < kFitTolerance || d.rounds == kMaxFitRounds);
}

TEST_F(Fatal, SlowInputIsReadOnceAndChangedInputIsRefused) {
  const auto x = known_spectrum(30, 1200, 8, 0.05f, 9);
  Options o;
  o.choice = {VectorChoice::count, 4};
  MemoryReader fast(x, 30);
  const Components a = analyse(fast, o);
  MemoryReader slow(x, 30);
  slow.slow_ = true;
  const Components b = analyse(slow, o);
  // The frame to fit onto, then one pass; the later passes read the temporary copy.
  EXPECT_EQ(slow.reads_.load(), 1 + 1200);
  EXPECT_EQ(a.fit_rounds, b.fit_rounds);
  for (int k = 0; k < 4; ++k) EXPECT_EQ(a.eigenvalues[k], b.eigenvalues[k]);

  MemoryReader changing(x, 30);
  changing.change_after_ = 1200;  // the file looks different from the second pass on
  EXPECT_THROW(analyse(changing, o), FatalError);
}

TEST_F(Fatal, ThreadsReadingTheirOwnPartsAgreeWithOneReaderAndRepeatExactly) {
  const auto x = known_spectrum(30, 1001, 8, 0.05f, 4);
  Options o;
  o.choice = {VectorChoice::count, 6};
  o.solver = Solver::randomized;
  o.threads = 3;  // three parts of 333 or 334 frames
  MemoryReader parts(x, 30);
  const Components a = analyse(parts, o);
  const Components again = analyse(parts, o);
  EXPECT_EQ(parts.others_, 2 * 2);
  EXPECT_EQ(a.eigenvalues, again.eigenvalues);
  EXPECT_EQ(a.proj, again.proj);

  MemoryReader shared(x, 30);
  shared.one_reader_ = true;
  const Components b = analyse(shared, o);
  EXPECT_EQ(a.fit_rounds, b.fit_rounds);
  EXPECT_NEAR(a.total, b.total, 1e-5 * b.total);
  for (int k = 0; k < 6; ++k)
    EXPECT_NEAR(a.eigenvalues[k], b.eigenvalues[k], 1e-5 * b.eigenvalues[k]);

  MemoryReader bad(x, 30);
  bad.bad_from_ = 990;  // in the last part, read by a thread of its own
  EXPECT_THROW(analyse(bad, o), FatalError);
}

// Sets the cancel flag once `after` frames have been read, as the Python host does from its
// waiting thread when Ctrl-C arrives.
class CancellingReader : public MemoryReader {
 public:
  CancellingReader(std::vector<float> x, std::int32_t natoms, std::atomic<bool>& cancel,
                   std::int64_t after)
      : MemoryReader(std::move(x), natoms), cancel_(cancel), after_(after) {}
  void read(std::int64_t first, std::int64_t count, std::span<float> out) override {
    MemoryReader::read(first, count, out);
    if (reads_ >= after_) cancel_ = true;
  }

 private:
  std::atomic<bool>& cancel_;
  std::int64_t after_;
};

// Both solvers, on one thread and with a reader thread ahead of two: the analysis stops within
// the blocks in flight (blocks of 16 frames for the exact solver here, 512 for the randomized),
// long before its first pass of 2000 frames ends, and no file is written.
TEST_F(Fatal, CancelledAnalysisStopsWithinTheBlocksInFlightAndWritesNothing) {
  const auto x = known_spectrum(30, 2000, 8, 0.05f, 5);
  const kvtraj::testing::TempDir dir;
  const std::string out = dir.path("out.kvt");
  for (const Solver solver : {Solver::exact, Solver::randomized}) {
    for (const int threads : {1, 2}) {
      std::atomic<bool> cancel{false};
      CancellingReader reader(x, 30, cancel, 600);
      reader.one_reader_ = true;  // every read passes by the override
      Options o;
      o.choice = {VectorChoice::count, 4};
      o.solver = solver;
      o.threads = threads;
      o.cancel = &cancel;
      try {
        compress(reader, out, o);
        ADD_FAILURE() << "not cancelled: " << solver_name(solver) << ", " << threads;
      } catch (const FatalError& e) {
        EXPECT_NE(std::string(e.what()).find("cancelled"), std::string::npos) << e.what();
      }
      EXPECT_LE(reader.reads_.load(), 600 + 2 * 512) << solver_name(solver) << ", " << threads;
      EXPECT_FALSE(std::filesystem::exists(out));
    }
  }
}

}  // namespace
}  // namespace kvtraj::pca

// Queries on handles in memory: snapshots and their edge cases, scores, Mahalanobis distances,
// per-atom lengths and the messages for indices outside their ranges.
#include <gtest/gtest.h>

#include <cmath>

#include "kvt_io/kvt_io.hpp"
#include "tests/kvt_io/kvt_fixtures.hpp"
#include "tests/testsupport/testsupport.hpp"

namespace kvtraj {
namespace {

using testing::make_sample;

// Two atoms (6 coordinates), three snapshots, two vectors with simple values.
kvtfile small_handle() {
  const std::vector<float> avg{1, 2, 3, 4, 5, 6};
  kvtfile h = kvtcreate(1, "q.kvt", "queries", 2, 3, 2, 0.0f, avg);
  kvtwrite(h, 1, std::vector<float>{1, 0, 0, 0, 0, 0}, 4.0f, std::vector<float>{2, -1, 0.5});
  kvtwrite(h, 2, std::vector<float>{0, 3, 4, 0, 0, 1}, 1.0f, std::vector<float>{10, 20, 30});
  return h;
}

TEST(KvtQueries, StoredArraysAndScores) {
  const kvtfile h = small_handle();
  EXPECT_EQ(kvtavg(h), (std::vector<float>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(kvtevals(h), (std::vector<float>{4, 1}));
  EXPECT_EQ(kvtevec(h, 2), (std::vector<float>{0, 3, 4, 0, 0, 1}));
  EXPECT_EQ(kvtproj(h, 1), (std::vector<float>{2, -1, 0.5}));
  EXPECT_EQ(kvtscores(h, 3), (std::vector<float>{0.5, 30}));
}

TEST(KvtQueries, SnapshotSumsTheChosenVectors) {
  const kvtfile h = small_handle();
  EXPECT_EQ(kvtsnap(h, 2), (std::vector<float>{0, 62, 83, 4, 5, 26}));
  EXPECT_EQ(kvtsnap(h, 2, 1, 1), (std::vector<float>{0, 2, 3, 4, 5, 6}));
  EXPECT_EQ(kvtsnap(h, 2, 2), (std::vector<float>{1, 62, 83, 4, 5, 26}));
  EXPECT_EQ(kvtsnap(h, 2, 1, 99), kvtsnap(h, 2));        // last is capped at nvecs
  EXPECT_EQ(kvtsnap(h, 2, -4, 1), kvtsnap(h, 2, 1, 1));  // first is raised to 1
  std::vector<float> buffer(6, -7.0f);
  kvtsnap(h, 2, buffer);
  EXPECT_EQ(buffer, kvtsnap(h, 2));
}

TEST(KvtQueries, SnapshotOutsideTheRangeIsTheAverage) {
  kvtfile h = small_handle();
  const std::vector<float> avg = kvtavg(h);
  EXPECT_EQ(kvtsnap(h, 0), avg);
  EXPECT_EQ(kvtsnap(h, 4), avg);
  EXPECT_EQ(kvtsnap(h, -3), avg);
  EXPECT_EQ(kvtsnap(h, 1, 2, 1), avg);  // first > last
  h.status = -1;
  EXPECT_EQ(kvtsnap(h, 1), avg);
}

TEST(KvtQueries, AllVectorsOfAFullBasisRebuildTheSnapshots) {
  // One atom, an orthonormal basis of the three coordinates, projections of known snapshots.
  const float c = std::sqrt(0.5f);
  const std::vector<float> avg{0.5f, -1.0f, 2.0f};
  const std::vector<std::vector<float>> basis{{c, c, 0}, {-c, c, 0}, {0, 0, 1}};
  const std::vector<std::vector<float>> snaps{{1, 2, 3}, {-4, 0.25f, 9}};
  kvtfile h = kvtcreate(1, "b.kvt", "basis", 1, 2, 3, 0.0f, avg);
  for (std::size_t k = 0; k < 3; ++k) {
    std::vector<float> proj;
    for (const auto& x : snaps) {
      float p = 0;
      for (std::size_t j = 0; j < 3; ++j) p += basis[k][j] * (x[j] - avg[j]);
      proj.push_back(p);
    }
    kvtwrite(h, static_cast<std::int32_t>(k + 1), basis[k], 1.0f, proj);
  }
  for (std::size_t i = 0; i < snaps.size(); ++i) {
    const std::vector<float> got = kvtsnap(h, static_cast<std::int32_t>(i + 1));
    for (std::size_t j = 0; j < 3; ++j) EXPECT_NEAR(got[j], snaps[i][j], 1e-5f) << i << j;
  }
}

TEST(KvtQueries, MahalanobisDistance) {
  const kvtfile h = small_handle();
  // Vector 1: eigenvalue 4, scores 2, -1, 0.5; vector 2: eigenvalue 1, scores 10, 20, 30.
  EXPECT_EQ(kvtmaha(h, 1), (std::vector<float>{1.0f, 0.5f, 0.25f}));
  EXPECT_EQ(kvtmaha(h, 0), (std::vector<float>{0, 0, 0}));
  const std::vector<float> two = kvtmaha(h, 2);
  EXPECT_FLOAT_EQ(two[0], std::sqrt(101.0f));
  EXPECT_FLOAT_EQ(two[2], std::sqrt(900.0625f));
}

TEST(KvtQueries, FluctuationIsTheLengthAtEachAtom) {
  kvtfile h = small_handle();
  EXPECT_EQ(kvtfluc(h, 2), (std::vector<float>{5.0f, 1.0f}));
  EXPECT_EQ(kvtfluc(h, 1), (std::vector<float>{1.0f, 0.0f}));
  h.status = 2;
  EXPECT_EQ(kvtfluc(h, 2), (std::vector<float>{0.0f, 0.0f}));
}

TEST(KvtQueriesFatal, IndicesOutsideTheirRangeAreFatal) {
  const kvtfile h = small_handle();
  KVTRAJ_EXPECT_FATAL(kvtevec(h, 7), "^kvtevec: vector index 7 outside 1\\.\\.2\n$");
  KVTRAJ_EXPECT_FATAL(kvtevec(h, 0), "^kvtevec: vector index 0 outside 1\\.\\.2\n$");
  KVTRAJ_EXPECT_FATAL(kvtproj(h, 3), "^kvtproj: vector index 3 outside 1\\.\\.2\n$");
  KVTRAJ_EXPECT_FATAL(kvtfluc(h, -1), "^kvtfluc: vector index -1 outside 1\\.\\.2\n$");
  KVTRAJ_EXPECT_FATAL(kvtscores(h, 4), "^kvtscores: snapshot index 4 outside 1\\.\\.3\n$");
  KVTRAJ_EXPECT_FATAL(kvtmaha(h, 3), "^kvtmaha: vector count 3 outside 0\\.\\.2\n$");
  std::vector<float> small(5);
  KVTRAJ_EXPECT_FATAL(kvtsnap(h, 1, small), "^kvtsnap: output holds 5 reals, expected 6\n$");
}

TEST(KvtQueriesFatal, ClosedHandleIsFatal) {
  const testing::TempDir dir;
  kvtfile h = testing::handle_of(make_sample(2, 2, 1), dir.path("a.kvt"));
  ASSERT_EQ(kvtclose(h), 0);
  KVTRAJ_EXPECT_FATAL(kvtevec(h, 1), "^kvtevec: the handle holds no arrays");
  KVTRAJ_EXPECT_FATAL(kvtsnap(h, 1), "^kvtsnap: the handle holds no arrays");
  KVTRAJ_EXPECT_FATAL(kvtmaha(h, 1), "^kvtmaha: the handle holds no arrays");
}

}  // namespace
}  // namespace kvtraj

// The codec's stages on their own: the grid holds the bound at every magnitude float32 allows
// and refuses the rest, the entropy coder round-trips any values and goes below a bit per value,
// blocks pick the model when it predicts better, and damage to a block is always reported.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "codec/codec.hpp"
#include "codec/entropy.hpp"
#include "support/fatal.hpp"
#include "tests/testsupport/testsupport.hpp"

namespace kvtraj::codec {
namespace {

// A random walk of `natoms` atoms around `centre`, steps of `sigma` Å per frame.
std::vector<float> walk_frames(std::int32_t natoms, std::int64_t frames, double centre,
                               double sigma, unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> normal;
  std::vector<double> x(3 * static_cast<std::size_t>(natoms));
  for (double& v : x) v = centre + 3.0 * normal(rng);
  std::vector<float> out;
  for (std::int64_t f = 0; f < frames; ++f) {
    for (double& v : x) {
      v += sigma * normal(rng);
      out.push_back(static_cast<float>(v));
    }
  }
  return out;
}

double max_deviation(std::span<const float> a, std::span<const float> b) {
  double worst = 0.0;
  for (std::size_t i = 0; i < a.size(); ++i)
    worst = std::max(worst, std::fabs(double(a[i]) - b[i]));
  return worst;
}

// Encodes the frames as one time-mode block with a plan chosen on them and decodes it back.
std::vector<float> round_trip(std::span<const float> frames, std::int32_t natoms, double e,
                              std::size_t* bytes = nullptr) {
  Model m;
  m.natoms = natoms;
  const auto count = static_cast<std::int64_t>(frames.size() / (3 * natoms));
  double largest = 0.0;
  for (float v : frames) largest = std::max(largest, std::fabs(double(v)));
  const Plan plan = choose_plan(m, frames, 0, count, {}, grid_step(e, largest), {});
  const EncodedBlock b = encode_block(m, plan, {0, count, frames, {}}, e);
  if (bytes) *bytes = b.bytes.size();
  std::vector<float> out(frames.size());
  decode_block(m, plan, b.bytes, 0, count, out, "test");
  return out;
}

class CodecTest : public ::testing::Test {
 protected:
  void SetUp() override { set_fatal_action(throw_fatal_error); }
};

TEST_F(CodecTest, EveryCoordinateIsWithinTheBoundAtEveryMagnitudeAndError) {
  for (const double centre : {0.0, 9990.0, -9990.0}) {
    for (const double e : {1e-3, 0.005, 0.05, 0.5, 10.0}) {
      const auto x = walk_frames(7, 12, centre, 0.3, 5);
      const auto y = round_trip(x, 7, e);
      EXPECT_LE(max_deviation(x, y), e) << "centre " << centre << " E " << e;
    }
  }
  // Small errors where float32 still resolves them.
  const auto x = walk_frames(5, 10, 1.0, 0.01, 6);
  EXPECT_LE(max_deviation(x, round_trip(x, 5, 1e-4)), 1e-4);
  // Values sitting on the edges of grid cells, and the largest float spacing the bound allows.
  std::vector<float> edges;
  for (int i = 0; i < 30; ++i) edges.push_back(static_cast<float>(0.01 * i + 0.005));
  EXPECT_LE(max_deviation(edges, round_trip(edges, 5, 0.005)), 0.005);
  EXPECT_LT(grid_step(0.005, 1e4), 0.01);
}

TEST_F(CodecTest, RefusesErrorsThatAreNotPositiveOrTooSmallForFloat32) {
  KVTRAJ_EXPECT_FATAL(check_max_error(-0.1), "positive number");
  KVTRAJ_EXPECT_FATAL(check_max_error(std::nan("")), "positive number");
  KVTRAJ_EXPECT_FATAL(check_max_error(0.0), "positive number");
  // At 10^4 Å float32 steps are 2^-10 Å: 10^-4 Å cannot be promised there.
  KVTRAJ_EXPECT_FATAL(grid_step(1e-4, 1e4), "too small for coordinates of 10000");
  const std::vector<float> far{1e4f, -1e4f, 1e4f, 1e4f, -1e4f, 1e4f};
  KVTRAJ_EXPECT_FATAL(round_trip(far, 1, 1e-4), "too small");
  std::vector<float> bad = walk_frames(2, 4, 0.0, 0.1, 1);
  bad[7] = std::numeric_limits<float>::infinity();
  KVTRAJ_EXPECT_FATAL(round_trip(bad, 2, 0.01), "not a finite number");
}

TEST_F(CodecTest, EntropyCoderRoundTripsExtremesAndCodesRunsOfZerosBelowOneBit) {
  std::mt19937 rng(3);
  std::vector<std::pair<int, std::int64_t>> values;
  for (int i = 0; i < 20000; ++i) {
    const int ctx = i % 3;
    std::int64_t v = rng() % 100 < 97 ? 0 : static_cast<std::int64_t>(rng() % 7) - 3;
    if (i % 1000 == 999)
      v = (i % 2000 == 999) ? (std::int64_t{1} << 32) - 1 : -(std::int64_t{1} << 32);
    values.emplace_back(ctx, v);
  }
  ContextEncoder enc(3);
  for (auto [c, v] : values) enc.add(c, v);
  ByteWriter w;
  enc.finish(w);
  EXPECT_LT(w.bytes().size(), values.size() / 8 * 3 / 4) << "about 0.3 bits a value expected";
  ByteReader r(w.bytes(), "test");
  ContextDecoder dec(r, 3);
  for (auto [c, v] : values) ASSERT_EQ(dec.next(c), v);
  EXPECT_TRUE(dec.ended_cleanly());
  EXPECT_EQ(r.left(), 0u);
}

// The encoder's steps by reciprocal at the edges of the frequencies: a context of one token
// (the whole range), one whose rare tokens get the least frequency, and the largest values.
TEST_F(CodecTest, EntropyCoderRoundTripsContextsOfOneTokenAndOfLeastFrequentTokens) {
  std::mt19937 rng(5);
  std::vector<std::pair<int, std::int64_t>> values;
  for (int i = 0; i < 60000; ++i) {
    values.emplace_back(0, 0);
    const std::int64_t rare = (i % 5000 == 0) ? -(std::int64_t{1} << 32) + i : i % 7;
    values.emplace_back(1, i % 997 == 0 ? rare : static_cast<std::int64_t>(rng() % 3) - 1);
  }
  ContextEncoder enc(2);
  for (auto [c, v] : values) enc.add(c, v);
  ByteWriter w;
  enc.finish(w);
  ByteReader r(w.bytes(), "test");
  ContextDecoder dec(r, 2);
  for (std::size_t i = 0; i < values.size(); ++i)
    ASSERT_EQ(dec.next(values[i].first), values[i].second) << "value " << i;
  EXPECT_TRUE(dec.ended_cleanly());
}

TEST_F(CodecTest, FrequencyTablesAlwaysFillTheRangeAndKeepEveryPresentToken) {
  std::mt19937 rng(9);
  for (int trial = 0; trial < 200; ++trial) {
    std::vector<std::uint8_t> levels(kTokens);
    for (auto& l : levels) l = rng() % 3 == 0 ? 0 : static_cast<std::uint8_t>(1 + rng() % 63);
    if (trial == 0) std::fill(levels.begin(), levels.end(), 63);
    if (trial == 1) levels.assign({63, 1, 1});
    const auto f = frequencies_from_levels(levels);
    std::uint32_t sum = 0;
    for (std::size_t s = 0; s < kTokens; ++s) {
      sum += f[s];
      if (s < levels.size()) {
        EXPECT_EQ(levels[s] != 0, f[s] != 0) << "token " << s;
      }
    }
    EXPECT_EQ(sum, kProbScale);
  }
}

// Frames that are a structure moved along two modes and rotated at random: the model predicts
// them, their previous frame does not.
struct Rotated {
  std::vector<float> frames;
  std::vector<Transform> transforms;
  std::vector<float> average, vectors, proj;
};
Rotated rotated_frames(std::int32_t natoms, std::int64_t count) {
  std::mt19937 rng(11);
  std::normal_distribution<double> normal;
  const std::size_t n = 3 * static_cast<std::size_t>(natoms);
  Rotated r;
  for (std::size_t i = 0; i < n; ++i) r.average.push_back(static_cast<float>(5.0 * normal(rng)));
  for (std::size_t i = 0; i < 2 * n; ++i)
    r.vectors.push_back(static_cast<float>(normal(rng) / std::sqrt(double(n))));
  r.proj.resize(static_cast<std::size_t>(2 * count));
  for (float& p : r.proj) p = static_cast<float>(4.0 * normal(rng));
  for (std::int64_t f = 0; f < count; ++f) {
    const double a = normal(rng), c = std::cos(a), s = std::sin(a);
    Transform t;  // fitted = rot x + trans, a rotation about z
    t.rot = {float(c), float(s), 0, float(-s), float(c), 0, 0, 0, 1};
    t.trans = {float(normal(rng)), float(normal(rng)), 0};
    t = stored(t);
    r.transforms.push_back(t);
    for (std::size_t i = 0; i < n; i += 3) {
      double y[3];
      for (int j = 0; j < 3; ++j) {
        y[j] = r.average[i + j] + r.vectors[i + j] * r.proj[f] +
               r.vectors[n + i + j] * r.proj[count + f] - t.trans[j];
      }
      for (int j = 0; j < 3; ++j) {  // x = rotᵀ (fitted - trans), plus noise
        const double x = t.rot[3 * j] * y[0] + t.rot[3 * j + 1] * y[1] + t.rot[3 * j + 2] * y[2];
        r.frames.push_back(static_cast<float>(x + 0.02 * normal(rng)));
      }
    }
  }
  return r;
}

TEST_F(CodecTest, BlocksPredictFromTheModelWhenItPaysAndTheBoundStillHolds) {
  const std::int32_t natoms = 40;
  const std::int64_t count = 30;
  const Rotated r = rotated_frames(natoms, count);
  const Model model{natoms, 2, count, r.average, r.vectors, r.proj};
  const double e = 0.01, step = grid_step(e, 100.0);
  const Plan plan = choose_plan(model, r.frames, 0, count, r.transforms, step, {});
  const EncodedBlock with = encode_block(model, plan, {0, count, r.frames, r.transforms}, e);
  const EncodedBlock without = encode_block(model, plan, {0, count, r.frames, {}}, e);
  EXPECT_EQ(with.mode, Mode::pca);
  EXPECT_EQ(without.mode, Mode::time);
  EXPECT_LT(with.bytes.size() * 2, without.bytes.size());
  EXPECT_GT(with.transform_bytes, 0u);
  std::vector<float> out(r.frames.size());
  decode_block(model, plan, with.bytes, 0, count, out, "test");
  EXPECT_LE(max_deviation(r.frames, out), e);
  // A group is coded from its own past, its references inside it.
  const AtomGroup group{10, 3};
  const Plan grouped =
      choose_plan(model, r.frames, 0, count, r.transforms, step, std::span(&group, 1));
  for (std::int32_t a = 10; a < 13; ++a) {
    const AtomPlan& p = grouped.atoms[a];
    EXPECT_TRUE(p.time_only);
    for (int t = 0; t < 2; ++t) {
      for (int k = 0; k < p.nrefs[t]; ++k) EXPECT_LE(p.refs[t][k].source, a - 10);
    }
  }
  EXPECT_FALSE(grouped.atoms[20].time_only);
}

// Rigid bent triples, like waters: the first atom walks, the other two stay 1 Å from it, 1.6 Å
// apart, while the molecule turns at random from frame to frame.
std::vector<float> rigid_triples(std::int32_t molecules, std::int64_t frames, double centre) {
  std::mt19937 rng(8);
  std::normal_distribution<double> normal;
  const double body[3][3] = {{0, 0, 0}, {1, 0, 0}, {-0.28, 0.96, 0}};
  struct Molecule {
    double at[3];
    double rot[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  };
  std::vector<Molecule> m(static_cast<std::size_t>(molecules));
  for (Molecule& x : m) {
    for (double& v : x.at) v = centre + 4.0 * normal(rng);
  }
  std::vector<float> out;
  for (std::int64_t f = 0; f < frames; ++f) {
    for (Molecule& x : m) {
      double axis[3], len = 0.0;
      for (int c = 0; c < 3; ++c) {
        x.at[c] += 0.3 * normal(rng);
        axis[c] = normal(rng);
        len += axis[c] * axis[c];
      }
      // Rodrigues: a turn of about 0.4 rad about a random axis, then the old orientation.
      const double angle = 0.4 * normal(rng), co = std::cos(angle), si = std::sin(angle);
      double k[3], turn[3][3], next[3][3];
      for (int c = 0; c < 3; ++c) k[c] = axis[c] / std::sqrt(len);
      for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
          const double cross = r == c ? 0.0 : ((c - r + 3) % 3 == 1 ? -1.0 : 1.0) * k[3 - r - c];
          turn[r][c] = (r == c ? co : 0.0) + si * cross + (1 - co) * k[r] * k[c];
        }
      }
      for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
          next[r][c] = 0.0;
          for (int i = 0; i < 3; ++i) next[r][c] += turn[r][i] * x.rot[i][c];
        }
      }
      std::copy(&next[0][0], &next[0][0] + 9, &x.rot[0][0]);
      for (const auto& b : body) {
        for (int r = 0; r < 3; ++r) {
          const double v = x.at[r] + x.rot[r][0] * b[0] + x.rot[r][1] * b[1] + x.rot[r][2] * b[2];
          out.push_back(static_cast<float>(v));
        }
      }
    }
  }
  return out;
}

TEST_F(CodecTest, AtomsHeldAtTheirDistancesCodeSmallerWithinTheBoundAndTheirPlanIsStored) {
  const std::int32_t natoms = 42;
  for (const double centre : {0.0, -9990.0}) {
    const auto x = rigid_triples(natoms / 3, 24, centre);
    Model m;
    m.natoms = natoms;
    const double e = 0.005, step = grid_step(e, std::fabs(centre) + 30.0);
    const Plan plan = choose_plan(m, x, 0, 24, {}, step, {});
    for (std::int32_t a = 0; a < natoms; ++a) {
      const AtomPlan& p = plan.atoms[a];
      // The second atom holds to the first; the third to both.
      EXPECT_EQ(p.held[0], a % 3 != 0) << "atom " << a;
      EXPECT_EQ(std::min(p.anchor, p.second), a % 3 == 2 ? 1 : 0) << "atom " << a;
      EXPECT_EQ(std::max(p.anchor, p.second), a % 3) << "atom " << a;
    }
    Plan single = plan, free = plan;
    for (AtomPlan& p : single.atoms) p.second = 0;
    for (AtomPlan& p : free.atoms) p = {p.time_only, p.nrefs, p.refs};
    const auto bytes = [&](const Plan& p) {
      const EncodedBlock b = encode_block(m, p, {0, 24, x, {}}, e);
      std::vector<float> out(x.size());
      decode_block(m, p, b.bytes, 0, 24, out, "test");
      EXPECT_LE(max_deviation(x, out), e);
      return b.bytes.size();
    };
    const std::size_t both = bytes(plan), one = bytes(single), none = bytes(free);
    EXPECT_LT(both, one * 19 / 20) << "centre " << centre;
    EXPECT_LT(one, none * 19 / 20) << "centre " << centre;
    // Bytes coded with the anchors do not decode without them: they are damage.
    const EncodedBlock held = encode_block(m, plan, {0, 24, x, {}}, e);
    std::vector<float> out(x.size());
    KVTRAJ_EXPECT_FATAL(decode_block(m, free, held.bytes, 0, 24, out, "blk"), "damaged block");

    std::vector<std::uint8_t> stored;
    write_plan(plan, stored);
    const Plan back = read_plan(stored, natoms, "plan");
    for (std::int32_t a = 0; a < natoms; ++a) {
      EXPECT_EQ(back.atoms[a].held, plan.atoms[a].held);
      EXPECT_EQ(back.atoms[a].anchor, plan.atoms[a].anchor);
      EXPECT_EQ(back.atoms[a].second, plan.atoms[a].second);
    }
  }
  // Holds forced on atoms that keep no distance, far apart at large magnitudes: they cost bits,
  // never accuracy.
  for (const double e : {1e-3, 0.5}) {
    const auto x = walk_frames(3, 12, -9990.0, 3.0, 9);
    Model m;
    m.natoms = 3;
    Plan forced;
    forced.atoms.assign(3, AtomPlan{});
    forced.atoms[1].held = {true, true};
    forced.atoms[1].anchor = 1;
    forced.atoms[2].held = {true, true};
    forced.atoms[2].anchor = 2;
    forced.atoms[2].second = 1;
    const EncodedBlock b = encode_block(m, forced, {0, 12, x, {}}, e);
    std::vector<float> out(x.size());
    decode_block(m, forced, b.bytes, 0, 12, out, "test");
    EXPECT_LE(max_deviation(x, out), e);
  }
  // Anchors before the first atom, beyond the reach of terms or twice the same are damage, and
  // so is a second anchor without a first.
  const std::pair<int, int> bad[] = {{0, 0}, {3, 0}, {17, 0}, {1, 3}, {2, 2}};
  for (const auto& [first, second] : bad) {
    Plan p;
    p.atoms.assign(3, AtomPlan{});
    p.atoms[2].held = {true, false};
    p.atoms[2].anchor = static_cast<std::uint8_t>(first);
    p.atoms[2].second = static_cast<std::uint8_t>(second);
    std::vector<std::uint8_t> bytes;
    write_plan(p, bytes);
    KVTRAJ_EXPECT_FATAL(read_plan(bytes, 3, "plan"), "anchor is outside the frame");
  }
  const std::vector<std::uint8_t> unheld_second{0x80, 1};
  KVTRAJ_EXPECT_FATAL(read_plan(unheld_second, 1, "plan"), "a plan entry is invalid");
}

// The frames put back into a triclinic box (a rhombic dodecahedron's, edge `edge` Å) as MD
// engines write them: by molecule of three atoms, and every fourth molecule atom by atom.
std::vector<float> wrapped(std::vector<float> x, double edge) {
  const double lattice[3][3] = {{edge, 0, 0}, {0, edge, 0}, {edge / 2, edge / 2, edge / 1.4142}};
  for (std::size_t m = 0; m < x.size() / 9; ++m) {
    for (std::size_t a = 0; a < 3; a += (m % 4 == 0 ? 1 : 3)) {
      float* at = &x[9 * m + 3 * a];
      for (int k = 2; k >= 0; --k) {  // z by the third vector, then y, then x
        const double shift = std::floor(at[k] / lattice[k][k]);
        for (std::size_t b = a; b < (m % 4 == 0 ? a + 1 : 3); ++b) {
          for (int c = 0; c < 3; ++c)
            x[9 * m + 3 * b + c] -= static_cast<float>(shift * lattice[k][c]);
        }
      }
    }
  }
  return x;
}

TEST_F(CodecTest, AtomsJumpingToAnotherImageCodeTheirJumpsWithinTheBound) {
  const std::int32_t natoms = 300;
  const std::int64_t frames = 30;
  const std::vector<float> whole = rigid_triples(natoms / 3, frames, 0.0);
  const std::vector<float> boxed = wrapped(whole, 16.0);
  for (const double e : {0.005, 0.5}) {
    std::size_t continuous = 0, jumping = 0;
    EXPECT_LE(max_deviation(whole, round_trip(whole, natoms, e, &continuous)), e);
    EXPECT_LE(max_deviation(boxed, round_trip(boxed, natoms, e, &jumping)), e);
    // Each jump costs its code, not a box-sized residual for the atom and those it predicts
    // (without the codes these frames take 25 % more than the continuous ones at 0.5 Å).
    if (e == 0.5) {
      EXPECT_LT(jumping, continuous * 6 / 5);
    }
  }
  // A lattice vector or count changed is damage, never other frames.
  Model m;
  m.natoms = natoms;
  const Plan plan = choose_plan(m, boxed, 0, frames, {}, grid_step(0.05, 40.0), {});
  const EncodedBlock b = encode_block(m, plan, {0, frames, boxed, {}}, 0.05);
  ASSERT_EQ(b.bytes[6], 3) << "the block's lattice vectors";
  std::vector<float> out(boxed.size());
  for (std::size_t at = 6; at < 24 + 36; ++at) {
    if (at >= 8 && at < 24) continue;  // the step and the checksum
    std::vector<std::uint8_t> bad = b.bytes;
    bad[at] ^= 0x04;
    KVTRAJ_EXPECT_FATAL(decode_block(m, plan, bad, 0, frames, out, "blk"), "damaged block");
  }
}

TEST_F(CodecTest, DamagedOrTruncatedBlocksAreReportedNeverDecodedIntoOtherFrames) {
  const std::int32_t natoms = 12;
  const auto x = walk_frames(natoms, 16, 0.0, 0.2, 4);
  Model m;
  m.natoms = natoms;
  const double e = 0.01;
  const Plan plan = choose_plan(m, x, 0, 16, {}, grid_step(e, 50.0), {});
  const EncodedBlock b = encode_block(m, plan, {0, 16, x, {}}, e);
  std::vector<float> good(x.size()), out(x.size());
  decode_block(m, plan, b.bytes, 0, 16, good, "test");
  int reported = 0;
  for (std::size_t at = 0; at < b.bytes.size(); ++at) {
    for (const std::uint8_t flip : {0x01, 0x80, 0xff}) {
      std::vector<std::uint8_t> bad = b.bytes;
      bad[at] ^= flip;
      const auto outcome =
          testing::catch_fatal([&] { decode_block(m, plan, bad, 0, 16, out, "blk"); });
      if (outcome.raised) {
        ++reported;
        EXPECT_THAT(outcome.texts, ::testing::HasSubstr("blk: damaged block"));
      } else {
        EXPECT_EQ(out, good) << "byte " << at << " decoded into other frames";
      }
    }
  }
  EXPECT_GT(reported, static_cast<int>(b.bytes.size()));
  for (std::size_t cut = 0; cut < b.bytes.size(); ++cut) {
    KVTRAJ_EXPECT_FATAL(decode_block(m, plan, std::span(b.bytes).first(cut), 0, 16, out, "blk"),
                        "damaged block");
  }
}

// Blocks large enough that the decoder runs most frames without the stream's end checks, with
// many extra bits (small E, large steps) and almost none (large E): they decode exactly, and
// damage anywhere, streams and their sizes included, is still reported.
TEST_F(CodecTest, LargeBlocksDecodeExactlyAndReportDamageAnywhere) {
  const std::int32_t natoms = 40;
  const std::int64_t count = 64;
  for (const auto& [e, sigma] : {std::pair{0.001, 0.8}, std::pair{0.5, 0.3}}) {
    const auto x = walk_frames(natoms, count, 0.0, sigma, 8);
    EXPECT_LE(max_deviation(x, round_trip(x, natoms, e)), e) << "E " << e;
    Model m;
    m.natoms = natoms;
    const Plan plan = choose_plan(m, x, 0, count, {}, grid_step(e, 50.0), {});
    const EncodedBlock b = encode_block(m, plan, {0, count, x, {}}, e);
    std::vector<float> good(x.size()), out(x.size());
    decode_block(m, plan, b.bytes, 0, count, good, "test");
    for (std::size_t at = 0; at < b.bytes.size(); at += 1 + b.bytes.size() / 300) {
      std::vector<std::uint8_t> bad = b.bytes;
      bad[at] ^= 0x5a;
      const auto outcome =
          testing::catch_fatal([&] { decode_block(m, plan, bad, 0, count, out, "blk"); });
      if (outcome.raised)
        EXPECT_THAT(outcome.texts, ::testing::HasSubstr("blk: damaged block"));
      else
        EXPECT_EQ(out, good) << "byte " << at << " decoded into other frames";
    }
    for (std::size_t cut = 0; cut < b.bytes.size(); cut += 1 + b.bytes.size() / 50) {
      KVTRAJ_EXPECT_FATAL(
          decode_block(m, plan, std::span(b.bytes).first(cut), 0, count, out, "blk"),
          "damaged block");
    }
  }
}

}  // namespace
}  // namespace kvtraj::codec

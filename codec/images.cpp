// Lattice vectors found from the jumps in a block's frames, and the shifts they combine to.
#include "codec/images.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace kvtraj::codec {
namespace {

// A step between saved frames this long is a jump to another image: no MD box is smaller, and
// atoms rarely move this far between frames; jumps within this of each other are the same.
constexpr double kJumpAngstrom = 8.0;
constexpr double kSameAngstrom = 2.5;
constexpr double kFaceAngstrom = 2.5;
// At most this many jumps are compared with each other, and a vector needs this many.
constexpr std::size_t kSampled = 1024;
constexpr std::size_t kLeastSupport = 4;

using Vector = Images::Vector;

// A length in whole grid steps, rounded up; capped far beyond any grid integer, as a damaged
// block may give any step.
std::int64_t steps_of(double angstrom, double step) {
  constexpr double kCap = 1099511627776.0;  // 2^40
  const double steps = std::ceil(angstrom / step);
  return steps < kCap ? static_cast<std::int64_t>(steps) : static_cast<std::int64_t>(kCap);
}

// 1 when a is within `tolerance` of b (in each component), -1 when of -b, else 0.
std::int64_t matching_sign(const Vector& a, const Vector& b, std::int64_t tolerance) {
  for (const std::int64_t sign : {1, -1}) {
    if (longest({a[0] - sign * b[0], a[1] - sign * b[1], a[2] - sign * b[2]}) <= tolerance)
      return sign;
  }
  return 0;
}

// v or -v, whichever has its largest component (the first of equals) positive: a jump and its
// return are the same lattice vector.
Vector canonical(Vector v) {
  int top = 0;
  for (int c = 1; c < 3; ++c) top = std::abs(v[c]) > std::abs(v[top]) ? c : top;
  if (v[top] < 0) {
    for (std::int64_t& x : v) x = -x;
  }
  return v;
}

std::vector<Vector> jumps(std::span<const std::int64_t> q, std::size_t n, std::int64_t count,
                          std::int64_t least) {
  std::vector<Vector> out;
  for (std::size_t i = n; i < static_cast<std::size_t>(count) * n; i += 3) {
    const Vector d = difference(&q[i], &q[i - n]);
    if (longest(d) >= least) out.push_back(canonical(d));
  }
  // Spread evenly over the block when there are many.
  if (out.size() > kSampled) {
    std::vector<Vector> spread(kSampled);
    for (std::size_t k = 0; k < kSampled; ++k) spread[k] = out[k * out.size() / kSampled];
    out = std::move(spread);
  }
  return out;
}

bool near_combination(const Vector& v, std::span<const Vector> chosen, std::int64_t tolerance) {
  const Images combos(chosen);
  for (int code = 1; code <= combos.largest(); ++code) {
    if (matching_sign(v, combos.shift(code), tolerance) != 0) return true;
  }
  return false;
}

// Whether every combination of the vectors is a jump: a shorter one would take ordinary moves
// for jumps.
bool all_jumps(const Images& images, std::int64_t least) {
  for (int code = 1; code <= images.largest(); ++code) {
    if (longest(images.shift(code)) < least) return false;
  }
  return true;
}

// The jumps within `tolerance` of v (either way round), and their mean, rounded.
std::pair<std::size_t, Vector> support(std::span<const Vector> all, const Vector& v,
                                       std::int64_t tolerance) {
  std::size_t members = 0;
  std::array<double, 3> sum{};
  for (const Vector& j : all) {
    const std::int64_t sign = matching_sign(j, v, tolerance);
    if (sign == 0) continue;
    ++members;
    for (int c = 0; c < 3; ++c) sum[c] += static_cast<double>(sign * j[c]);
  }
  Vector mean = v;
  for (int c = 0; members > 0 && c < 3; ++c)
    mean[c] = std::llround(sum[c] / static_cast<double>(members));
  return {members, mean};
}

}  // namespace

Images::Images(std::span<const Vector> vectors) : count_(static_cast<int>(vectors.size())) {
  std::copy(vectors.begin(), vectors.end(), vectors_.begin());
  int codes = 1;
  for (int k = 0; k < count_; ++k) codes *= 3;
  largest_ = (codes - 1) / 2;
  for (int code = 0; code < codes; ++code) {
    Vector s{};
    for (int k = 0, rest = code; k < count_; ++k, rest /= 3) {
      for (int c = 0; c < 3; ++c) s[c] += (rest % 3 - 1) * vectors_[k][c];
    }
    shifts_[static_cast<std::size_t>(code)] = s;
  }
}

int Images::nearest(const Vector& moved) const {
  const auto left = [&](int code) {
    const Vector& s = shift(code);
    return std::abs(moved[0] - s[0]) + std::abs(moved[1] - s[1]) + std::abs(moved[2] - s[2]);
  };
  int best = 0;
  std::int64_t best_left = left(0);
  for (int code = -largest_; code <= largest_; ++code) {
    const std::int64_t l = left(code);
    if (l < best_left) {
      best = code;
      best_left = l;
    }
  }
  return best;
}

Vector Images::reduced(const Vector& moved) const {
  return difference(moved.data(), shift(nearest(moved)).data());
}

Faces::Faces(std::span<const std::int64_t> q, double step)
    : margin_(steps_of(kFaceAngstrom, step)) {
  low_.fill(q.empty() ? 0 : q[0]);
  high_ = low_;
  for (std::size_t i = 0; i + 3 <= q.size(); i += 3) {
    for (std::size_t c = 0; c < 3; ++c) {
      low_[c] = std::min(low_[c], q[i + c]);
      high_[c] = std::max(high_[c], q[i + c]);
    }
  }
}

Images find_images(std::span<const std::int64_t> q, std::size_t n, std::int64_t count,
                   double step) {
  const std::int64_t least = steps_of(kJumpAngstrom, step);
  const std::int64_t tolerance = steps_of(kSameAngstrom, step);
  const std::vector<Vector> all = jumps(q, n, count, least);
  // Candidates by how many jumps they stand for, most first (the earlier of equals), with the
  // mean of those jumps.
  struct Candidate {
    std::size_t index = 0;
    std::size_t members = 0;
    Vector mean{};
  };
  std::vector<Candidate> ranked;
  for (std::size_t i = 0; i < all.size(); ++i) {
    const auto [members, mean] = support(all, all[i], tolerance);
    ranked.push_back({i, members, mean});
  }
  std::stable_sort(ranked.begin(), ranked.end(),
                   [](const Candidate& a, const Candidate& b) { return a.members > b.members; });
  std::vector<Vector> chosen;
  for (const Candidate& c : ranked) {
    if (chosen.size() == kMaxImages || c.members < kLeastSupport) break;
    if (near_combination(all[c.index], chosen, tolerance)) continue;
    chosen.push_back(c.mean);
    if (!all_jumps(Images(chosen), least)) chosen.pop_back();
  }
  return Images(chosen);
}

}  // namespace kvtraj::codec

// The model's rebuild of a frame on the grid, stored transforms, and held distances.
#include "codec/predict.hpp"

#include <array>
#include <cmath>

namespace kvtraj::codec {
namespace {

constexpr double kRotScale = 1048576.0;  // 2^20
constexpr double kTransScale = 256.0;    // 2^8
constexpr double kRotLimit = 2097152.0;  // |rot| <= 2
constexpr double kTransLimit = 16777216.0;

float snapped(float v, double scale, double limit) {
  double q = std::floor(static_cast<double>(v) * scale + 0.5);
  if (!(q > -limit)) q = -limit;  // NaN included
  if (q > limit) q = limit;
  return static_cast<float>(q / scale);
}

}  // namespace

Transform stored(const Transform& t) {
  Transform s;
  for (int i = 0; i < 9; ++i) s.rot[i] = snapped(t.rot[i], kRotScale, kRotLimit);
  for (int i = 0; i < 3; ++i) s.trans[i] = snapped(t.trans[i], kTransScale, kTransLimit);
  return s;
}

void pca_grid(const Model& model, const Transform& t, std::int64_t frame, double step,
              std::span<double> work, std::span<std::int64_t> out) {
  const std::size_t n = model.average.size();
  for (std::size_t j = 0; j < n; ++j) work[j] = model.average[j];
  for (std::int32_t k = 0; k < model.nvecs; ++k) {
    const double p =
        model.proj[static_cast<std::size_t>(k) * static_cast<std::size_t>(model.nframes) +
                   static_cast<std::size_t>(frame)];
    const float* v = model.vectors.data() + static_cast<std::size_t>(k) * n;
    for (std::size_t j = 0; j < n; ++j) work[j] += static_cast<double>(v[j]) * p;
  }
  for (std::size_t a = 0; a < n; a += 3) {
    const double z0 = work[a] - t.trans[0], z1 = work[a + 1] - t.trans[1],
                 z2 = work[a + 2] - t.trans[2];
    for (int j = 0; j < 3; ++j) {
      const double x = static_cast<double>(t.rot[3 * j]) * z0 +
                       static_cast<double>(t.rot[3 * j + 1]) * z1 +
                       static_cast<double>(t.rot[3 * j + 2]) * z2;
      const double g = x / step;
      out[a + j] = std::fabs(g) < static_cast<double>(kMaxGridValue) ? round_half_up(g) : 0;
    }
  }
}

namespace {

// The held atom's squared distance to anchor `k` one frame back. Grid integers stay within 2^31,
// so their differences are exact in double; every sum here runs in a fixed order and sqrt is
// correctly rounded, so every build gets the same values.
double length2_before(const Held& h, int k) {
  double sum = 0.0;
  for (int c = 0; c < 3; ++c) {
    const auto v = static_cast<double>(h.atom_before[c] - h.anchor_before[k][c]);
    sum += v * v;
  }
  return sum;
}

double now(const Held& h, int k, int c) {
  return static_cast<double>(h.atom[c] - h.anchor[k][c]);
}

// The grid integer nearest to a prediction, kept within the grid's range: far geometry (or a
// damaged block) only costs bits, and every residual stays within what the coder takes.
// floor(v + 0.5) leaves the range exactly when v + 0.5 does; inside it, round_half_up is that
// floor without the library call.
std::int64_t nearest(double v) {
  const auto limit = static_cast<double>(kMaxGridValue);
  const double w = v + 0.5;
  if (!(w >= -limit)) return -kMaxGridValue;  // NaN included
  return w >= limit ? kMaxGridValue : round_half_up(v);
}

// The index of the largest magnitude (the first of equals). Selected without branches: which
// axis wins follows the data, which a branch predictor cannot.
int largest(const std::array<double, 3>& v) {
  const double a0 = std::fabs(v[0]), a1 = std::fabs(v[1]), a2 = std::fabs(v[2]);
  const int one = a1 > a0 ? 1 : 0;
  const int two = a2 > std::max(a0, a1) ? 1 : 0;
  return one + two * (2 - one);
}

}  // namespace

int held_coordinate(const Held& h) {
  std::array<double, 3> bond{};
  for (int c = 0; c < 3; ++c) bond[c] = static_cast<double>(h.predicted[c] - h.anchor[0][c]);
  return largest(bond);
}

std::int64_t held_value(const Held& h, int coordinate) {
  std::array<double, 3> now2{};
  for (int c = 0; c < 3; ++c) now2[c] = now(h, 0, c) * now(h, 0, c);
  // The two other coordinates in order (squares, so that a sum starting at 0 would be the same).
  const std::array<int, 2> o = others(coordinate);
  const double rest = length2_before(h, 0) - (now2[o[0]] + now2[o[1]]);
  const double left = rest > 0.0 ? std::sqrt(rest) : 0.0;
  // On the prediction's side of the anchor: from - left is exactly from + (-1 * left).
  static constexpr double kSide[2] = {-1.0, 1.0};
  const auto from = static_cast<double>(h.anchor[0][coordinate]);
  return nearest(from + kSide[h.predicted[coordinate] >= h.anchor[0][coordinate]] * left);
}

int circle_coordinate(const Held& h) {
  std::array<double, 3> axis{}, arm{};
  for (int c = 0; c < 3; ++c) {
    axis[c] = static_cast<double>(h.anchor[1][c] - h.anchor[0][c]);
    arm[c] = static_cast<double>(h.predicted[c] - h.anchor[0][c]);
  }
  const std::array<double, 3> tangent{axis[1] * arm[2] - axis[2] * arm[1],
                                      axis[2] * arm[0] - axis[0] * arm[2],
                                      axis[0] * arm[1] - axis[1] * arm[0]};
  return largest(tangent);
}

std::array<std::int64_t, 2> held_pair(const Held& h, int first) {
  const auto [k1, k2] = others(first);
  const std::array<std::int64_t, 2> predicted{h.predicted[k1], h.predicted[k2]};
  // Squared radii of the two circles in the plane of k1 and k2, and their centres.
  const double ra = length2_before(h, 0) - now(h, 0, first) * now(h, 0, first);
  const double rb = length2_before(h, 1) - now(h, 1, first) * now(h, 1, first);
  const double ax = static_cast<double>(h.anchor[0][k1]), ay = static_cast<double>(h.anchor[0][k2]);
  const double dx = static_cast<double>(h.anchor[1][k1] - h.anchor[0][k1]);
  const double dy = static_cast<double>(h.anchor[1][k2] - h.anchor[0][k2]);
  const double d2 = dx * dx + dy * dy;
  if (!(d2 > 0.0) || ra < 0.0 || rb < 0.0) return predicted;
  // The crossings: along the line of centres by s, across it by ±w, in units of its length.
  const double s = (ra - rb + d2) / (2.0 * d2);
  const double w2 = ra / d2 - s * s;
  const double w = w2 > 0.0 ? std::sqrt(w2) : 0.0;
  const double px = ax + s * dx, py = ay + s * dy;
  const double x1 = px - w * dy, y1 = py + w * dx, x2 = px + w * dy, y2 = py - w * dx;
  const auto far = [&](double x, double y) {
    const double u = x - static_cast<double>(predicted[0]),
                 v = y - static_cast<double>(predicted[1]);
    return u * u + v * v;
  };
  if (far(x2, y2) < far(x1, y1)) return {nearest(x2), nearest(y2)};
  return {nearest(x1), nearest(y1)};
}

}  // namespace kvtraj::codec

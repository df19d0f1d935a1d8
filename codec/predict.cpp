// The model's rebuild of a frame on the grid, stored transforms, and held distances.
#include "codec/predict.hpp"

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
      out[a + j] = std::fabs(g) < static_cast<double>(kMaxGridValue)
                       ? static_cast<std::int64_t>(std::floor(g + 0.5))
                       : 0;
    }
  }
}

int held_coordinate(const std::int64_t* predicted, const std::int64_t* anchor) {
  int best = 0;
  std::int64_t longest = -1;
  for (int c = 0; c < 3; ++c) {
    const std::int64_t v = predicted[c] - anchor[c];
    const std::int64_t len = v < 0 ? -v : v;
    if (len > longest) {
      longest = len;
      best = c;
    }
  }
  return best;
}

std::int64_t held_value(const std::int64_t* atom_before, const std::int64_t* anchor_before,
                        const std::int64_t* atom, const std::int64_t* anchor, int coordinate,
                        std::int64_t predicted) {
  // Grid integers stay within 2^31, so their differences are exact in double; the sums run in
  // a fixed order and sqrt is correctly rounded, so every build gets the same value.
  double length2 = 0.0, others2 = 0.0;
  for (int c = 0; c < 3; ++c) {
    const auto before = static_cast<double>(atom_before[c] - anchor_before[c]);
    length2 += before * before;
    if (c != coordinate) {
      const auto now = static_cast<double>(atom[c] - anchor[c]);
      others2 += now * now;
    }
  }
  const double rest = length2 - others2;
  const double h = rest > 0.0 ? std::sqrt(rest) : 0.0;
  const auto from = static_cast<double>(anchor[coordinate]);
  return static_cast<std::int64_t>(
      std::floor((predicted >= anchor[coordinate] ? from + h : from - h) + 0.5));
}

}  // namespace kvtraj::codec

// The model's rebuild of a frame on the grid, and stored transforms.
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
      out[a + j] = std::fabs(g) < static_cast<double>(kMaxGridValue) ? round_half_up(g) : 0;
    }
  }
}

}  // namespace kvtraj::codec

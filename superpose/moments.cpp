// The fit made from the sums over two coordinate sets, and the check of their sizes.
#include <cmath>

#include "superpose/moments.hpp"
#include "support/fatal.hpp"

namespace kvtraj::fitting {
namespace {

// A centred sum of squares this small, against the uncentred one it came from, is rounding of
// the single-precision products: the set is one point and defines no orientation.
bool is_point(double centred, double raw) {
  return centred <= raw * 0x1p-22;
}

}  // namespace

void no_fit(Matrix3f& rot, Vector3f& trans, float& rms, std::int32_t mode) {
  rms = 0.0f;
  if (mode == 0) return;
  rot = {1.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 1.0f};
  trans = {0.0f, 0.0f, 0.0f};
}

void finish(Moments& m, double f, Matrix3f& rot, Vector3f& trans, float& rms, std::int32_t mode) {
  const double raw_a = m.sa;
  const double raw_b = m.sb;
  for (int i = 0; i < 3; ++i) {
    m.sa -= f * m.ca[i] * m.ca[i];
    m.sb -= f * m.cb[i] * m.cb[i];
  }
  const bool point = is_point(m.sa, raw_a) || is_point(m.sb, raw_b);
  for (int j = 0; j < 3; ++j) {
    for (int i = 0; i < 3; ++i) {
      double& uij = m.u[i + 3 * j];
      uij = point ? 0.0 : (uij - f * m.ca[i] * m.cb[j]) * f;
    }
  }
  double rtsum = 0.0;
  qkfit(m.u, rtsum, rot, mode);
  const float e = static_cast<float>((m.sa + m.sb) * f - 2.0 * rtsum);
  rms = e < 0.0f ? 0.0f : std::sqrt(e);
  if (mode == 0) return;
  for (int i = 0; i < 3; ++i) {
    double rotated = 0.0;
    for (int j = 0; j < 3; ++j) rotated += rot[i + 3 * j] * m.cb[j];
    trans[i] = static_cast<float>((m.ca[i] - rotated) * f);
  }
}

void require_atoms(std::size_t atoms, std::span<const float> ref, std::span<const float> mov) {
  if (ref.size() / 3 < atoms || mov.size() / 3 < atoms) {
    die(stdout, "superpose: a coordinate set holds fewer than 3 x n values");
  }
}

}  // namespace kvtraj::fitting

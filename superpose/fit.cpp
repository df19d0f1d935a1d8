// Unweighted and weighted least-squares fits of one coordinate set onto another.
#include <cmath>
#include <cstddef>

#include "superpose/superpose.hpp"
#include "support/fatal.hpp"

namespace kvtraj {
namespace {

// Sums over the atoms, in double precision, of products formed in single precision.
struct Moments {
  double ca[3] = {0.0, 0.0, 0.0};  // weighted coordinate sums, reference
  double cb[3] = {0.0, 0.0, 0.0};  // and moving set
  Matrix3d u{};                    // u(i,j) = sum of w ref(i) mov(j)
  double sa = 0.0;                 // weighted sums of squares
  double sb = 0.0;
  double weight = 0.0;  // sum of the weights
};

struct UnitWeight {
  float operator()(std::size_t) const { return 1.0f; }
};

struct AtomWeight {
  std::span<const float> w;
  float operator()(std::size_t k) const { return w[k]; }
};

template <class Weight>
Moments moments(std::size_t n, const float* ref, const float* mov, Weight weight) {
  Moments m;
  for (std::size_t k = 0; k < n; ++k) {
    const float w = weight(k);
    const float* a = ref + 3 * k;
    const float* b = mov + 3 * k;
    m.weight += w;
    for (int i = 0; i < 3; ++i) {
      m.ca[i] += w * a[i];
      m.cb[i] += w * b[i];
      m.sa += (a[i] * a[i]) * w;
      m.sb += (b[i] * b[i]) * w;
      for (int j = 0; j < 3; ++j) m.u[i + 3 * j] += (a[i] * b[j]) * w;
    }
  }
  return m;
}

void no_fit(Matrix3f& rot, Vector3f& trans, float& rms, std::int32_t mode) {
  rms = 0.0f;
  if (mode == 0) return;
  rot = {1.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 1.0f};
  trans = {0.0f, 0.0f, 0.0f};
}

// A centred sum of squares this small, against the uncentred one it came from, is rounding of
// the single-precision products: the set is one point and defines no orientation.
bool is_point(double centred, double raw) {
  return centred <= raw * 0x1p-22;
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

template <class Weight>
void fit(std::size_t atoms, std::span<const float> ref, std::span<const float> mov, Matrix3f& rot,
         Vector3f& trans, float& rms, std::int32_t mode, Weight weight) {
  Moments m = moments(atoms, ref.data(), mov.data(), weight);
  if (!(m.weight != 0.0)) return no_fit(rot, trans, rms, mode);
  finish(m, 1.0 / m.weight, rot, trans, rms, mode);
}

}  // namespace

void superpose(std::int32_t n, std::span<const float> reference, std::span<const float> moving,
               Matrix3f& rot, Vector3f& trans, float& rms, std::int32_t mode) {
  if (n <= 0) return no_fit(rot, trans, rms, mode);
  const auto atoms = static_cast<std::size_t>(n);
  require_atoms(atoms, reference, moving);
  fit(atoms, reference, moving, rot, trans, rms, mode, UnitWeight{});
}

void superposew(std::int32_t n, std::span<const float> reference, std::span<const float> moving,
                Matrix3f& rot, Vector3f& trans, float& rms, std::int32_t mode,
                std::span<const float> weights) {
  if (n <= 0) return no_fit(rot, trans, rms, mode);
  const auto atoms = static_cast<std::size_t>(n);
  require_atoms(atoms, reference, moving);
  if (weights.size() < atoms) die(stdout, "superposew: fewer weights than atoms");
  fit(atoms, reference, moving, rot, trans, rms, mode, AtomWeight{weights});
}

}  // namespace kvtraj

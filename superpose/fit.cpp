// Unweighted and weighted least-squares fits of one coordinate set onto another.
#include <cmath>
#include <cstddef>

#include "superpose/moments.hpp"
#include "superpose/superpose.hpp"
#include "support/fatal.hpp"

namespace kvtraj {
namespace {

using fitting::finish;
using fitting::Moments;
using fitting::no_fit;
using fitting::require_atoms;

struct UnitWeight {
  float operator()(std::size_t) const { return 1.0f; }
};

struct AtomWeight {
  std::span<const float> w;
  float operator()(std::size_t k) const { return w[k]; }
};

// Sums over the atoms, in double precision, of products formed in single precision.
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

// What one file says of its vectors: the fluctuation of each atom within them, and the
// structures along one of them.
#include <algorithm>
#include <cmath>
#include <string>

#include "analysis/analysis.hpp"
#include "support/fatal.hpp"

namespace kvtraj::analysis {
namespace {

std::span<const float> vector_of(const kvtfile& kvtf, std::int32_t k) {
  checked_span(kvtf, k, k);
  const std::size_t n = kvtf.avg.size();
  return std::span(kvtf.evecs).subspan(static_cast<std::size_t>(k - 1) * n, n);
}

}  // namespace

std::vector<float> rmsf(const kvtfile& kvtf) {
  const auto natoms = static_cast<std::size_t>(kvtf.natoms);
  std::vector<double> sum(natoms, 0.0);
  for (std::int32_t k = 1; k <= kvtf.nvecs; ++k) {
    const std::span<const float> v = vector_of(kvtf, k);
    const double value = std::max(0.0f, kvtf.evals[k - 1]);
    for (std::size_t a = 0; a < natoms; ++a) {
      const double x = v[3 * a], y = v[3 * a + 1], z = v[3 * a + 2];
      sum[a] += value * (x * x + y * y + z * z);
    }
  }
  std::vector<float> out(natoms);
  for (std::size_t a = 0; a < natoms; ++a) out[a] = static_cast<float>(std::sqrt(sum[a]));
  return out;
}

std::vector<float> mode_amplitudes(const kvtfile& kvtf, std::int32_t k, std::int32_t count,
                                   float scale) {
  vector_of(kvtf, k);
  if (count < 2) die("the motion along a vector needs 2 structures or more");
  if (kvtf.nframes < 1) die(kvtf.filename + ": no stored projections");
  const auto proj = std::span(kvtf.proj).subspan(
      static_cast<std::size_t>(k - 1) * static_cast<std::size_t>(kvtf.nframes),
      static_cast<std::size_t>(kvtf.nframes));
  const auto [low, high] = std::minmax_element(proj.begin(), proj.end());
  std::vector<float> out;
  out.reserve(2 * static_cast<std::size_t>(count) - 2);
  for (std::int32_t i = 0; i < count; ++i) {
    // The last step lands on the largest value itself, not on a sum of steps.
    const double t = static_cast<double>(i) / (count - 1);
    const double p = i == count - 1 ? *high : *low + t * (static_cast<double>(*high) - *low);
    out.push_back(static_cast<float>(p) * scale);
  }
  for (std::int32_t i = count - 2; i >= 1; --i) out.push_back(out[static_cast<std::size_t>(i)]);
  return out;
}

void mode_structure(const kvtfile& kvtf, std::int32_t k, float amplitude, std::span<float> out) {
  const std::span<const float> v = vector_of(kvtf, k);
  for (std::size_t i = 0; i < v.size(); ++i) out[i] = kvtf.avg[i] + amplitude * v[i];
}

}  // namespace kvtraj::analysis

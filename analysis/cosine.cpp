// Cosine content of a projection (Hess 2002), with the integrals by Simpson's rule on unit steps.
#include <cmath>
#include <numbers>

#include "analysis/analysis.hpp"

namespace kvtraj::analysis {
namespace {

// Simpson's rule over the panels (i, i + 1, i + 2) for i = start, start + 2, ... < stop.
template <class Y>
double simpson_panels(const Y& y, std::int64_t start, std::int64_t stop) {
  double s = 0.0;
  for (std::int64_t i = start; i < stop; i += 2) s += y(i) + 4.0 * y(i + 1) + y(i + 2);
  return s / 3.0;
}

// The integral of y(0) .. y(count - 1). An even count leaves one interval over: it is taken by
// the trapezoid rule at either end, and the two results averaged.
template <class Y>
double simpson(const Y& y, std::int64_t count) {
  if (count % 2 == 1) return simpson_panels(y, 0, count - 2);
  if (count == 0) return 0.0;
  const double last = 0.5 * (y(count - 1) + y(count - 2)) + simpson_panels(y, 0, count - 3);
  const double first = 0.5 * (y(1) + y(0)) + simpson_panels(y, 1, count - 2);
  return 0.5 * (last + first);
}

}  // namespace

double cosine_content(std::span<const float> p, std::int32_t k) {
  const auto count = static_cast<std::int64_t>(p.size());
  const double frames = static_cast<double>(count);
  const double w = std::numbers::pi * k / frames;
  const double along =
      simpson([&](std::int64_t t) { return std::cos(w * static_cast<double>(t)) * p[t]; }, count);
  const double norm =
      simpson([&](std::int64_t t) { return static_cast<double>(p[t]) * p[t]; }, count);
  if (!(norm > 0.0)) return 0.0;
  return 2.0 / frames * along * along / norm;
}

}  // namespace kvtraj::analysis

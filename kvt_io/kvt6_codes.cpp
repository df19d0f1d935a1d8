// The 16-bit projection codes of KVT6: the range of a vector's projections is cut into 65534
// steps around its midpoint and each projection is truncated toward zero to a whole step.
#include <cmath>

#include "kvt_io/kvt_internal.hpp"

namespace kvtraj::kvt {
namespace {

constexpr float kSteps = 65534.0f;
constexpr float kMaxCode = 32767.0f;

// Truncation toward zero, defined for every value: NaN gives 0, values beyond the code range
// (infinities, rounding in a subnormal scale) give the end of the range.
std::int16_t to_code(float steps) {
  if (std::isnan(steps)) return 0;
  if (steps >= kMaxCode) return static_cast<std::int16_t>(kMaxCode);
  if (steps <= -kMaxCode) return static_cast<std::int16_t>(-kMaxCode);
  return static_cast<std::int16_t>(steps);
}

// Midpoint and step of the finite projections. A range whose difference or sum overflows is
// halved before subtracting or adding.
CodeScale code_scale(std::span<const float> proj) {
  bool any = false;
  float lo = 0.0f;
  float hi = 0.0f;
  for (float p : proj) {
    if (!std::isfinite(p)) continue;
    lo = any ? std::fmin(lo, p) : p;
    hi = any ? std::fmax(hi, p) : p;
    any = true;
  }
  CodeScale cs;
  cs.scale = (hi - lo) / kSteps;
  cs.offset = (hi + lo) * 0.5f;
  if (!std::isfinite(cs.scale)) cs.scale = hi / kSteps - lo / kSteps;
  if (!std::isfinite(cs.offset)) cs.offset = hi * 0.5f + lo * 0.5f;
  return cs;
}

}  // namespace

CodeScale encode_projections(std::span<const float> proj, std::span<std::int16_t> codes) {
  const CodeScale cs = code_scale(proj);
  for (std::size_t i = 0; i < proj.size(); ++i) {
    // A scale of 0 (all projections equal, or a range that underflows) codes everything as 0.
    codes[i] = cs.scale == 0.0f ? std::int16_t{0} : to_code((proj[i] - cs.offset) / cs.scale);
  }
  return cs;
}

void decode_projections(CodeScale cs, std::span<const std::int16_t> codes, std::span<float> proj) {
  for (std::size_t i = 0; i < codes.size(); ++i) {
    float p = cs.offset;
    p += static_cast<float>(codes[i]) * cs.scale;
    proj[i] = p;
  }
}

}  // namespace kvtraj::kvt

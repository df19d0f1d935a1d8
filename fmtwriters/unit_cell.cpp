#include <cmath>
#include <numbers>

#include "fmtwriters/formats.hpp"

namespace kvtraj {
namespace {

float degrees_from_slot(float v) {
  if (std::fabs(v) <= 1.0f) {
    return static_cast<float>(std::acos(static_cast<double>(v)) * 180.0 / std::numbers::pi);
  }
  return v;
}

float degrees_or_right(float v) {
  return v == 0.0f ? 90.0f : v;
}

}  // namespace

double cosine_of(float degrees) {
  if (degrees == 90.0f) return 0.0;
  return std::cos(static_cast<double>(degrees) * std::numbers::pi / 180.0);
}

UnitCell cell_from_dcd(std::span<const float, 6> v) {
  return UnitCell{
      v[0], v[2], v[5], degrees_from_slot(v[4]), degrees_from_slot(v[3]), degrees_from_slot(v[1])};
}

UnitCell cell_from_lengths(std::span<const float, 6> v) {
  return UnitCell{
      v[0], v[1], v[2], degrees_or_right(v[3]), degrees_or_right(v[4]), degrees_or_right(v[5])};
}

}  // namespace kvtraj

#include "support/unit_cell.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

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

double sine_of(float degrees) {
  if (degrees == 90.0f) return 1.0;
  return std::sin(static_cast<double>(degrees) * std::numbers::pi / 180.0);
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

std::array<double, 9> box_vectors(const UnitCell& cell) {
  const double a = cell.a, b = cell.b, c = cell.c;
  const double ca = cosine_of(cell.alpha), cb = cosine_of(cell.beta), cg = cosine_of(cell.gamma);
  const double sg = sine_of(cell.gamma);
  const double cy = (ca - cb * cg) / sg;
  const double cz = std::sqrt(std::max(0.0, 1.0 - cb * cb - cy * cy));
  return {a, 0.0, 0.0, b * cg, b * sg, 0.0, c * cb, c * cy, c * cz};
}

UnitCell cell_from_box_vectors(const std::array<double, 9>& m) {
  const auto dot = [&](int i, int j) {
    return m[3 * i] * m[3 * j] + m[3 * i + 1] * m[3 * j + 1] + m[3 * i + 2] * m[3 * j + 2];
  };
  std::array<double, 3> length{};
  for (int i = 0; i < 3; ++i) length[i] = std::sqrt(dot(i, i));
  const auto angle = [&](int i, int j) {
    const double norms = length[i] * length[j];
    if (norms == 0.0) return 90.0f;
    const double radians = std::acos(std::clamp(dot(i, j) / norms, -1.0, 1.0));
    return static_cast<float>(radians * 180.0 / std::numbers::pi);
  };
  return UnitCell{static_cast<float>(length[0]),
                  static_cast<float>(length[1]),
                  static_cast<float>(length[2]),
                  angle(1, 2),
                  angle(0, 2),
                  angle(0, 1)};
}

}  // namespace kvtraj

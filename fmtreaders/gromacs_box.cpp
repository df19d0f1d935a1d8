#include "fmtreaders/gromacs_box.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <numbers>

namespace kvtraj::readers {

void cell_of_box_vectors(const std::array<double, 9>& m, std::span<float> cell) {
  const auto dot = [&](int i, int j) {
    return m[3 * i] * m[3 * j] + m[3 * i + 1] * m[3 * j + 1] + m[3 * i + 2] * m[3 * j + 2];
  };
  std::array<double, 3> length{};
  for (int i = 0; i < 3; ++i) length[i] = std::sqrt(dot(i, i));
  const auto angle = [&](int i, int j) {
    const double norms = length[i] * length[j];
    if (norms == 0.0) return 90.0;
    return std::acos(std::clamp(dot(i, j) / norms, -1.0, 1.0)) * 180.0 / std::numbers::pi;
  };
  const std::array<double, 6> out = {10.0 * length[0], 10.0 * length[1], 10.0 * length[2],
                                     angle(1, 2),      angle(0, 2),      angle(0, 1)};
  for (std::size_t k = 0; k < 6; ++k) cell[k] = static_cast<float>(out[k]);
}

}  // namespace kvtraj::readers

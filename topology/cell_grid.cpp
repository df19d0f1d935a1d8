#include "topology/cell_grid.hpp"

#include <algorithm>
#include <cmath>

namespace kvtraj {
namespace {

using Vec = std::array<double, 3>;

Vec cross(const Vec& u, const Vec& v) {
  return {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
}

double norm(const Vec& v) {
  return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
}

// The distance between the lattice planes that bound the unit cell along each box vector.
Vec plane_spacings(const PeriodicBox& box) {
  const auto& m = box.vectors();
  const Vec a{m[0], m[1], m[2]}, b{m[3], m[4], m[5]}, c{m[6], m[7], m[8]};
  const Vec bc = cross(b, c), ca = cross(c, a), ab = cross(a, b);
  const double volume = std::fabs(a[0] * bc[0] + a[1] * bc[1] + a[2] * bc[2]);
  return {volume / norm(bc), volume / norm(ca), volume / norm(ab)};
}

// As many cells along each axis as fit at least `cutoff` thick, but no more cells in all than
// twice the atoms (a sparse system or a huge box must not cost memory): coarser cells stay
// thicker than the cutoff.
std::array<std::size_t, 3> grid_shape(const Vec& thickness, double cutoff, std::size_t atoms) {
  Vec count{};
  for (int k = 0; k < 3; ++k) count[k] = std::max(1.0, std::floor(thickness[k] / cutoff));
  const double limit = std::max(2.0 * static_cast<double>(atoms), 1.0);
  const double total = count[0] * count[1] * count[2];
  if (total > limit) {
    const double f = std::cbrt(limit / total);
    for (double& c : count) c = std::max(1.0, std::floor(c * f));
  }
  return {static_cast<std::size_t>(count[0]), static_cast<std::size_t>(count[1]),
          static_cast<std::size_t>(count[2])};
}

std::size_t slot(double unit, std::size_t cells) {
  return std::min(static_cast<std::size_t>(unit * static_cast<double>(cells)), cells - 1);
}

}  // namespace

CellGrid::CellGrid(std::span<const float> coords, double cutoff, const PeriodicBox* box)
    : periodic_(box != nullptr) {
  const std::size_t n = coords.size() / 3;
  // Each atom's place in [0, 1) along the three axes of the grid.
  std::vector<Vec> unit(n);
  Vec lo{0.0, 0.0, 0.0}, extent{1.0, 1.0, 1.0};
  if (!periodic_ && n > 0) {
    Vec hi{coords[0], coords[1], coords[2]};
    lo = hi;
    for (std::size_t i = 0; i < n; ++i) {
      for (int k = 0; k < 3; ++k) {
        lo[k] = std::min(lo[k], double(coords[3 * i + k]));
        hi[k] = std::max(hi[k], double(coords[3 * i + k]));
      }
    }
    for (int k = 0; k < 3; ++k) extent[k] = hi[k] - lo[k];
  }
  shape_ = grid_shape(periodic_ ? plane_spacings(*box) : extent, cutoff, n);
  for (std::size_t i = 0; i < n; ++i) {
    const Vec x{coords[3 * i], coords[3 * i + 1], coords[3 * i + 2]};
    if (periodic_) {
      const Vec s = box->fractional(x);
      for (int k = 0; k < 3; ++k) unit[i][k] = s[k] - std::floor(s[k]);
    } else {
      for (int k = 0; k < 3; ++k) unit[i][k] = extent[k] > 0.0 ? (x[k] - lo[k]) / extent[k] : 0.0;
    }
  }
  // Counting sort of the atoms by cell.
  cell_of_.resize(n);
  start_.assign(shape_[0] * shape_[1] * shape_[2] + 1, 0);
  for (std::size_t i = 0; i < n; ++i) {
    cell_of_[i] =
        slot(unit[i][0], shape_[0]) +
        shape_[0] * (slot(unit[i][1], shape_[1]) + shape_[1] * slot(unit[i][2], shape_[2]));
    ++start_[cell_of_[i] + 1];
  }
  for (std::size_t c = 1; c < start_.size(); ++c) start_[c] += start_[c - 1];
  atoms_.resize(n);
  std::vector<std::size_t> fill(start_.begin(), start_.end() - 1);
  for (std::size_t i = 0; i < n; ++i) atoms_[fill[cell_of_[i]]++] = static_cast<std::int32_t>(i);
}

std::size_t CellGrid::neighbours(std::size_t cell, std::array<std::size_t, 27>& out) const {
  const std::array<std::size_t, 3> at{cell % shape_[0], cell / shape_[0] % shape_[1],
                                      cell / (shape_[0] * shape_[1])};
  std::size_t count = 0;
  for (int dz = -1; dz <= 1; ++dz) {
    for (int dy = -1; dy <= 1; ++dy) {
      for (int dx = -1; dx <= 1; ++dx) {
        const std::array<int, 3> step{dx, dy, dz};
        std::size_t index = 0, scale = 1;
        bool inside = true;
        for (int k = 0; k < 3; ++k) {
          const auto size = static_cast<std::ptrdiff_t>(shape_[k]);
          std::ptrdiff_t p = static_cast<std::ptrdiff_t>(at[k]) + step[k];
          if (periodic_) p = (p + size) % size;
          inside &= p >= 0 && p < size;
          index += static_cast<std::size_t>(p) * scale;
          scale *= shape_[k];
        }
        if (inside && std::find(out.begin(), out.begin() + count, index) == out.begin() + count) {
          out[count++] = index;
        }
      }
    }
  }
  return count;
}

}  // namespace kvtraj

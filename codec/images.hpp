// Periodic images: MD engines write each atom back into the box when it leaves it, so between
// two frames an atom may jump by a lattice vector (and a molecule end up split across the box
// edges). A block may carry up to three lattice vectors in grid integers; each atom of a later
// frame then codes which combination of them (each taken -1, 0 or +1 times) moved it, before
// its coordinates, and is predicted and referred to as if it had not jumped. The encoder finds
// the vectors in the block's own frames, so it needs no unit cell and suits a box that changes.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace kvtraj::codec {

// Blocks store the vectors' components as 32-bit integers: differences of grid integers, which
// stay below 2^30 in magnitude, always fit.
inline constexpr int kMaxImages = 3;

class Images {
 public:
  using Vector = std::array<std::int64_t, 3>;
  Images() = default;
  explicit Images(std::span<const Vector> vectors);

  int count() const { return count_; }
  const Vector& vector(int k) const { return vectors_[static_cast<std::size_t>(k)]; }
  // Codes run from -largest() to largest(); code 0 is no jump.
  int largest() const { return largest_; }
  // The shift a code stands for: digit j (base 3, from the lowest, of code + largest()) minus
  // one times vector j.
  const Vector& shift(int code) const { return shifts_[static_cast<std::size_t>(code + largest_)]; }
  // The code whose shift leaves the smallest sum of magnitudes of `moved` minus it; no jump
  // unless another does strictly better.
  int nearest(const Vector& moved) const;
  // `moved` less the shift of its nearest code.
  Vector reduced(const Vector& moved) const;

 private:
  int count_ = 0;
  int largest_ = 0;
  std::array<Vector, kMaxImages> vectors_{};
  std::array<Vector, 27> shifts_{};
};

// The lattice vectors of the jumps atoms make between consecutive frames of `q` (count frames
// of n grid integers at `step` Å): none when no atom moves by a box-sized step.
Images find_images(std::span<const std::int64_t> q, std::size_t n, std::int64_t count, double step);

}  // namespace kvtraj::codec

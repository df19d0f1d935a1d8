// Periodic images: MD engines write each atom back into the box when it leaves it, so between
// two frames an atom may jump by a lattice vector (and a molecule end up split across the box
// edges). A block may carry up to three lattice vectors in grid integers; each atom of a later
// frame then codes which combination of them (each taken -1, 0 or +1 times) moved it, before
// its coordinates, and is predicted and referred to as if it had not jumped. The encoder finds
// the vectors in the block's own frames, so it needs no unit cell and suits a box that changes.
#pragma once

#include <algorithm>
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

// The move from `from` to `to`, each an atom's x y z grid integers.
inline Images::Vector difference(const std::int64_t* to, const std::int64_t* from) {
  return {to[0] - from[0], to[1] - from[1], to[2] - from[2]};
}
// The largest magnitude among its components.
inline std::int64_t longest(const Images::Vector& v) {
  const auto abs = [](std::int64_t x) { return x < 0 ? -x : x; };
  return std::max({abs(v[0]), abs(v[1]), abs(v[2])});
}

// Where a frame's atoms reach along each axis, so that an atom next to a face of the box (an
// engine's box written as a brick, [0, L) along each axis) can be told from one inside it:
// only atoms next to a face jump.
class Faces {
 public:
  // Of the frame `q` (n grid integers), for atoms within about 2.5 Å of a face at `step`.
  Faces(std::span<const std::int64_t> q, double step);
  // 0 inside; else 1 + 2c for the low face of axis c, 2 + 2c for its high face (the first
  // the atom is next to): the face tells which way a jump goes.
  int face(const std::int64_t* atom) const {
    for (int c = 0; c < 3; ++c) {
      if (atom[c] - low_[c] < margin_) return 1 + 2 * c;
      if (high_[c] - atom[c] < margin_) return 2 + 2 * c;
    }
    return 0;
  }
  static constexpr int kFaces = 7;

 private:
  std::array<std::int64_t, 3> low_{}, high_{};
  std::int64_t margin_ = 0;
};

// The lattice vectors of the jumps atoms make between consecutive frames of `q` (count frames
// of n grid integers at `step` Å): none when no atom moves by a box-sized step.
Images find_images(std::span<const std::int64_t> q, std::size_t n, std::int64_t count, double step);

}  // namespace kvtraj::codec

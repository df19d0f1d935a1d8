// The predictions shared by the encoder, the decoder and the choice of plan: the principal-
// component rebuild of a frame on the grid, the correction by references, and the contexts the
// entropy coder selects its table by. Everything here is exact integer arithmetic or double
// arithmetic in a fixed order, so that encoder and decoder agree on every build.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "codec/codec.hpp"

namespace kvtraj::codec {

// Grid integers of decoded values stay within this magnitude; beyond it a block is damaged.
inline constexpr std::int64_t kMaxGridValue = std::int64_t{1} << 31;

// The grid integers nearest to the model's rebuild of file frame `frame` under transform `t`
// (already stored), for every coordinate; `work` holds 3N doubles.
void pca_grid(const Model& model, const Transform& t, std::int64_t frame, double step,
              std::span<double> work, std::span<std::int64_t> out);

// A held atom and its anchors, x y z grid integers one frame back and in this frame (the atom's
// as far as decoded), and the atom's predictions.
struct Held {
  const std::int64_t* atom_before;
  const std::int64_t* atom;
  const std::int64_t* predicted;
  std::array<const std::int64_t*, 2> anchor_before;  // the second null with one anchor
  std::array<const std::int64_t*, 2> anchor;
};

// With one anchor: the coordinate the distance predicts, the one along which the predicted bond
// lies most (where the distance resolves it best; the first of equals).
int held_coordinate(const Held& h);
// That coordinate's grid integer: the anchor's, plus what is left of the distance one frame back
// after the atom's two other coordinates, on the side of the anchor where the prediction lies.
std::int64_t held_value(const Held& h, int coordinate);

// With two anchors: the coordinate decoded first, the one along which the circle the two
// distances leave runs most at the prediction (the first of equals).
int circle_coordinate(const Held& h);
// The two other coordinates' grid integers, in increasing order: where the circles the two
// distances one frame back leave in their plane cross, the crossing nearer the prediction (the
// point between them when they do not cross; the prediction when they cannot).
std::array<std::int64_t, 2> held_pair(const Held& h, int first);

// The correction of a coordinate by its references: the weighted sum S of their residuals (in
// sixteenths), the whole correction (S / 16 rounded half up) and which third of the grid cell
// the remainder falls in (0 below, 1 near the centre, 2 above).
struct Correction {
  std::int64_t offset = 0;
  int third = 1;
};
inline Correction correct(std::int64_t sum) {
  const std::int64_t offset = (sum + 8) >> 4;
  const std::int64_t rest = sum - offset * 16;  // -8 .. 7
  return {offset, rest < -3 ? 0 : (rest > 3 ? 2 : 1)};
}

// Contexts: 3 thirds x 7 classes of the same coordinate's residual one frame back (sign and
// magnitude after `shift`), one for the key frames and one for coordinates predicted from a
// held distance.
inline constexpr int kContexts = 23;
inline constexpr int kKeyContext = 21;
inline constexpr int kHeldContext = 22;
inline int context_of(int third, std::int64_t previous, int shift) {
  const std::int64_t a = (previous < 0 ? -previous : previous) >> shift;
  const int b = a == 0 ? 0 : (a == 1 ? 1 : (a < 4 ? 2 : 3));
  return third * 7 + 3 + (previous < 0 ? -b : b);
}

}  // namespace kvtraj::codec

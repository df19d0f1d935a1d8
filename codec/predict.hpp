// The predictions shared by the encoder, the decoder and the choice of plan: the principal-
// component rebuild of a frame on the grid, the correction by references, and the contexts the
// entropy coder selects its table by. Everything here is exact integer arithmetic or double
// arithmetic in a fixed order, so that encoder and decoder agree on every build.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "codec/codec.hpp"

namespace kvtraj::codec {

// Grid integers of decoded values stay within this magnitude; beyond it a block is damaged.
inline constexpr std::int64_t kMaxGridValue = std::int64_t{1} << 31;

// floor(v + 0.5) for |v| < 2^62, exact, without the library call floor is under -fno-fast-math.
inline std::int64_t round_half_up(double v) {
  const double w = v + 0.5;
  const auto i = static_cast<std::int64_t>(w);  // toward zero: one above w when w < 0 is not whole
  return i - (static_cast<double>(i) > w ? 1 : 0);
}

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

// The two coordinates other than `c`, in increasing order; looked up, as comparisons here
// compile to branches on the data.
inline std::array<int, 2> others(int c) {
  static constexpr std::array<std::array<int, 2>, 3> kOthers{{{1, 2}, {0, 2}, {0, 1}}};
  return kOthers[static_cast<std::size_t>(c)];
}

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
  // The remainder plus 8, 0..15, looked up in two-bit fields (0 for 0..4, 1 for 5..11, 2 for
  // 12..15) rather than compared, as it follows the data, and without a table in memory.
  constexpr std::uint32_t kThirds = 0xaa555400;
  return {(sum + 8) >> 4, static_cast<int>((kThirds >> (2 * ((sum + 8) & 15))) & 3)};
}

// Contexts: 3 thirds x 7 classes (third * 7 + class) of the same coordinate's residual one frame
// back (sign and magnitude after `shift`), one for the key frames and one for coordinates
// predicted from a held distance. Written without branches: the classes follow the data, which a
// branch predictor cannot.
inline constexpr int kContexts = 23;
inline constexpr int kKeyContext = 21;
inline constexpr int kHeldContext = 22;
inline int residual_class(std::int64_t previous, int shift) {
  const std::int64_t sign = previous >> 63;  // 0 or -1
  const auto a = static_cast<std::uint64_t>((previous ^ sign) - sign) >> shift;
  // The bit length of min(a, 4), 0, 1, 2 (2 or 3), 3 (4 up), looked up in two-bit fields:
  // std::bit_width and comparisons compile to branches here.
  constexpr std::uint32_t kLengths = 0x3a4;
  const auto b = static_cast<int>((kLengths >> (2 * std::min<std::uint64_t>(a, 4))) & 3);
  const auto s = static_cast<int>(sign);
  return 3 + ((b ^ s) - s);
}

}  // namespace kvtraj::codec

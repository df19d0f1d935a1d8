// The 5-character real codes of KVT5 files.
//
// A code holds the 32 bits of an IEEE-754 single-precision value, written in base 85 with the
// most significant digit first; digit d is the character with code 33 + d ('!' to 'u'), so a
// code never holds a blank and every value, NaNs and signed zeros included, survives the round
// trip bit for bit. A field of five blanks reads as 0.0. A field with any other character outside
// '!'..'u', or whose digits exceed 2^32 - 1, is not a code and reads as a quiet NaN.
#pragma once

#include <array>
#include <string_view>

#pragma GCC visibility push(default)  // the installed interface, exported by shared builds

namespace kvtraj {

inline constexpr std::size_t kCodeLength = 5;

// The real encoded by one 5-character field (a shorter view is taken as padded with blanks).
float stor(std::string_view code);

// The code of `value`, the inverse of `stor`.
std::array<char, kCodeLength> rtos(float value);

}  // namespace kvtraj

#pragma GCC visibility pop

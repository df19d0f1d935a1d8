// Fixed-column number output: "%8.3f" fields that refuse values they cannot hold instead of
// shifting every later column of the file.
#pragma once

#include <array>

#pragma GCC visibility push(default)  // the installed interface, exported by shared builds

namespace kvtraj {

// `value` written as "%8.3f" into `field`; false when it is not finite or needs more than the
// 8 columns, so that it would shift every later column of a fixed-column file.
bool format_f8_3(double value, std::array<char, 16>& field);
// The three coordinates `xyz` times `scale` as "%8.3f" fields: -1 when all fit, otherwise the
// axis (0, 1 or 2) of the first that does not.
using PositionFields = std::array<std::array<char, 16>, 3>;
int format_position(const std::array<double, 3>& xyz, double scale, PositionFields& fields);

}  // namespace kvtraj

#pragma GCC visibility pop

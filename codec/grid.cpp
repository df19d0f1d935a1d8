// The quantiser: the grid step that makes the maximum error hold after float32 rounding.
#include <cmath>
#include <string>

#include "codec/codec.hpp"
#include "support/fatal.hpp"

namespace kvtraj::codec {
namespace {

// Grid integers stay below this magnitude, so that sums of a few stay far inside 64 bits and a
// value always fits the entropy coder's tokens.
constexpr double kMaxGridIndex = 1073741824.0;  // 2^30

std::string text(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%g", v);
  return buf;
}

}  // namespace

void check_max_error(double max_error) {
  if (!(max_error > 0.0) || !std::isfinite(max_error)) {
    die("the maximum error must be a positive number of Å, not " + text(max_error));
  }
}

double grid_step(double max_error, double largest) {
  check_max_error(max_error);
  if (!std::isfinite(largest)) die("a coordinate is not a finite number");
  // A rebuilt value is at most `top` in magnitude; float32 spacing there is 2^(e - 24), and
  // rounding to float moves a value by half of it. The double products add far less than
  // top * 2^-50.
  const double top = largest + max_error;
  int e = 0;
  std::frexp(top, &e);  // top < 2^e
  const double half_spacing = std::ldexp(1.0, e - 25);
  const double margin = half_spacing + std::ldexp(top, -50);
  if (margin > 0.5 * max_error) {
    die("a maximum error of " + text(max_error) + " Å is too small for coordinates of " +
        text(largest) + " Å in float32 (give at least " + text(2.0 * margin) + " Å)");
  }
  const double step = 2.0 * (max_error - margin);
  if (top / step >= kMaxGridIndex) {
    die("a maximum error of " + text(max_error) + " Å is too small for coordinates of " +
        text(largest) + " Å");
  }
  return step;
}

}  // namespace kvtraj::codec

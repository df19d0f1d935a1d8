// Fixed-column number fields that refuse values wider than their columns.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "support/text_output.hpp"

namespace kvtraj {

namespace {

// "%8.3f" for a value whose thousandths are the integer `thousandths` (|value| < 10^4), written
// directly: right-aligned, a minus sign for every negative value (also one that shows as
// -0.000), as printf does.
void write_thousandths(long long thousandths, bool negative, std::array<char, 16>& field) {
  unsigned long long rest =
      static_cast<unsigned long long>(thousandths < 0 ? -thousandths : thousandths);
  std::array<char, 16> digits{};
  int n = 0;
  for (; n < 4 || rest > 0; ++n) {  // the three decimals and at least one integer digit
    digits[n] = static_cast<char>('0' + rest % 10);
    rest /= 10;
  }
  std::size_t at = 0;
  const int length = n + 1 + (negative ? 1 : 0);
  for (int pad = length; pad < 8; ++pad) field[at++] = ' ';
  if (negative) field[at++] = '-';
  for (int i = n - 1; i >= 0; --i) {
    field[at++] = digits[i];
    if (i == 3) field[at++] = '.';
  }
  field[at] = '\0';
}

}  // namespace

bool format_f8_3(double value, std::array<char, 16>& field) {
  if (!std::isfinite(value)) return false;
  // value · 1000 is off its exact product by far less than 1e-6 here, so away from a halfway
  // point it rounds like the exact value; near one (and for wide values) printf decides.
  const double scaled = value * 1000.0;
  const double nearest = std::nearbyint(scaled);
  if (std::fabs(scaled) < 1e7 && std::fabs(scaled - nearest) < 0.5 - 1e-6) {
    write_thousandths(static_cast<long long>(nearest), std::signbit(value), field);
    return std::strlen(field.data()) == 8;
  }
  const int length = std::snprintf(field.data(), field.size(), "%8.3f", value);
  return length == 8;
}

int format_position(const std::array<double, 3>& xyz, double scale, PositionFields& fields) {
  for (int axis = 0; axis < 3; ++axis) {
    if (!format_f8_3(xyz[axis] * scale, fields[axis])) return axis;
  }
  return -1;
}

}  // namespace kvtraj

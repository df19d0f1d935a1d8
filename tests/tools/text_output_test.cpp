// The shared output helpers of the converters: "%8.3f" fields must equal printf's, byte for
// byte, and refuse what does not fit; closing reports earlier write failures.
#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>

#include "support/text_output.hpp"

namespace kvtraj {
namespace {

std::string printf_f8_3(double value) {
  std::array<char, 64> text{};
  std::snprintf(text.data(), text.size(), "%8.3f", value);
  return text.data();
}

void expect_as_printf(double value) {
  std::array<char, 16> field{};
  const std::string expected = printf_f8_3(value);
  const bool fits = format_f8_3(value, field);
  EXPECT_EQ(fits, expected.size() == 8 && std::isfinite(value)) << expected;
  if (fits) {
    EXPECT_EQ(std::string(field.data()), expected) << value;
  }
}

TEST(FormatF83, EqualsPrintfOnEdgeValues) {
  for (const double v :
       {0.0,       -0.0,    -0.0004, 0.0004,   0.0005,    -0.0005,   0.0625,    -0.0625,  0.0015,
        2.5e-4,    1.0,     -1.0,    9999.999, 9999.9994, 9999.9995, 9999.9996, -999.999, -999.9994,
        -999.9996, 10000.0, -1000.0, 123.4565, 1e-300,    5e6,       -7e12,     1e300}) {
    expect_as_printf(v);
  }
  std::array<char, 16> field{};
  EXPECT_FALSE(format_f8_3(std::numeric_limits<double>::quiet_NaN(), field));
  EXPECT_FALSE(format_f8_3(std::numeric_limits<double>::infinity(), field));
  EXPECT_FALSE(format_f8_3(-std::numeric_limits<double>::infinity(), field));
}

TEST(FormatF83, EqualsPrintfOnManyValues) {
  std::mt19937_64 random(12345);
  std::uniform_real_distribution<double> wide(-1200.0, 10200.0);
  std::uniform_int_distribution<long long> halves(-2'000'000, 20'000'000);
  for (int i = 0; i < 200000; ++i) {
    expect_as_printf(wide(random));
    // Values at and next to halfway points between thousandths.
    const double half = (static_cast<double>(halves(random)) + 0.5) / 1000.0;
    expect_as_printf(half);
    expect_as_printf(std::nextafter(half, 0.0));
    expect_as_printf(std::nextafter(half, 1e9));
    // Metres scaled as the converters do.
    expect_as_printf(wide(random) * 1e-9 * 1e9);
  }
}

}  // namespace
}  // namespace kvtraj

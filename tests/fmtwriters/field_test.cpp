#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>

#include "support/text_output.hpp"

namespace kvtraj {
namespace {

std::string printf_field(float v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%8.3f", static_cast<double>(v));
  return buf;
}

// The AMBER writer formats single-precision coordinates.
std::string fast_field(float v) {
  std::array<char, 16> field{};
  if (!format_f8_3(v, field)) return "(does not fit)";
  return std::string(field.data(), 8);
}

TEST(AmberField, SameBytesAsPrintfForEveryValueThatFits) {
  std::mt19937 gen(11);
  std::uniform_real_distribution<float> wide(-999.999f, 9999.999f);
  std::uniform_real_distribution<float> narrow(-2.0f, 2.0f);
  for (int i = 0; i < 200000; ++i) {
    const float v = i % 2 ? wide(gen) : narrow(gen);
    ASSERT_EQ(fast_field(v), printf_field(v)) << std::hexfloat << v;
  }
  // Exact ties round to even, as printf does; signs of values that round to zero stay.
  for (float v : {0.0625f, 0.1875f, -0.0625f, 2.5e-4f, -1e-4f, -0.0f, 0.0f, 9999.999f, -999.999f,
                  9999.9994f, -999.9994f, 1234.5f}) {
    EXPECT_EQ(fast_field(v), printf_field(v)) << v;
  }
}

TEST(AmberField, ValuesThatNeedMoreThanEightColumnsAreRefused) {
  std::array<char, 16> field{};
  for (float v :
       {10000.0f, 9999.9996f, -1000.0f, -999.9996f, 1e30f, std::numeric_limits<float>::infinity(),
        std::numeric_limits<float>::quiet_NaN()}) {
    EXPECT_FALSE(format_f8_3(v, field)) << v;
  }
}

}  // namespace
}  // namespace kvtraj

#include "rscode/rscode.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>

namespace kvtraj {
namespace {

std::string code_of(float v) {
  const auto c = rtos(v);
  return std::string(c.begin(), c.end());
}

TEST(Rscode, KnownCodes) {
  EXPECT_EQ(code_of(0.0f), "!!!!!");
  EXPECT_EQ(stor("!!!!!"), 0.0f);
  // 2^32 - 1 is the largest five-digit value that is a code: 85^5 - 1 is not.
  EXPECT_EQ(code_of(std::bit_cast<float>(0xFFFFFFFFu)), "s8W-!");
  EXPECT_TRUE(std::isnan(stor("uuuuu")));
  EXPECT_TRUE(std::isnan(stor("s8W-\"")));
}

TEST(Rscode, EveryBitPatternSurvivesTheRoundTrip) {
  std::mt19937 gen(7);
  std::uniform_int_distribution<std::uint32_t> bits;
  for (int i = 0; i < 100000; ++i) {
    const std::uint32_t b = bits(gen);
    const std::string code = code_of(std::bit_cast<float>(b));
    ASSERT_EQ(code.find(' '), std::string::npos);
    ASSERT_EQ(std::bit_cast<std::uint32_t>(stor(code)), b) << code;
  }
  for (float v : {-0.0f, 1.0f, -3.5f, std::numeric_limits<float>::infinity(),
                  std::numeric_limits<float>::denorm_min(), std::numeric_limits<float>::max()}) {
    EXPECT_EQ(std::bit_cast<std::uint32_t>(stor(code_of(v))), std::bit_cast<std::uint32_t>(v));
  }
}

TEST(Rscode, BlankAndInvalidFields) {
  EXPECT_EQ(stor("     "), 0.0f);
  EXPECT_EQ(stor(""), 0.0f);
  EXPECT_TRUE(std::isnan(stor("!! !!")));
  EXPECT_TRUE(std::isnan(stor("!!!")));
  EXPECT_TRUE(std::isnan(stor("!!!!~")));
  EXPECT_TRUE(std::isnan(stor("\x01!!!!")));
  EXPECT_EQ(stor("!!!!!extra"), 0.0f);  // only the first five characters count
}

}  // namespace
}  // namespace kvtraj

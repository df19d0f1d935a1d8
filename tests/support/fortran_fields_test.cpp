#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "support/fortran_input.hpp"

namespace kvtraj {
namespace {

float f_field(std::string_view text, int decimals = 3) {
  float v = -999.0f;
  EXPECT_EQ(read_f_field(text, decimals, v), kIoOk) << '"' << text << '"';
  return v;
}

TEST(FField, ExplicitDecimalPointWins) {
  EXPECT_FLOAT_EQ(f_field("  47.660"), 47.66f);
  EXPECT_FLOAT_EQ(f_field("-123.456"), -123.456f);
  EXPECT_FLOAT_EQ(f_field("   +1.5 "), 1.5f);
  EXPECT_FLOAT_EQ(f_field("    .25"), 0.25f);
  EXPECT_FLOAT_EQ(f_field("     5. "), 5.0f);
}

TEST(FField, BlankFieldsAndBlanksInsideAreIgnored) {
  EXPECT_EQ(f_field("        "), 0.0f);
  EXPECT_EQ(f_field(""), 0.0f);
  EXPECT_FLOAT_EQ(f_field(" 1 2.5  "), 12.5f);
  EXPECT_FLOAT_EQ(f_field("47.660  "), 47.66f);
}

TEST(FField, ImpliedDecimalPointTakesTheLastDigits) {
  EXPECT_FLOAT_EQ(f_field("   12345"), 12.345f);
  EXPECT_FLOAT_EQ(f_field("      -5"), -0.005f);
  EXPECT_FLOAT_EQ(f_field("      12", 0), 12.0f);
  EXPECT_FLOAT_EQ(f_field("  1 2 3 "), 0.123f);
}

TEST(FField, ExponentForms) {
  EXPECT_FLOAT_EQ(f_field("  1.5E+2"), 150.0f);
  EXPECT_FLOAT_EQ(f_field("  1.5e-2"), 0.015f);
  EXPECT_FLOAT_EQ(f_field("   2.5D1"), 25.0f);
  EXPECT_FLOAT_EQ(f_field("   2.5d1"), 25.0f);
  EXPECT_FLOAT_EQ(f_field("   1.0+5"), 1.0e5f);
  EXPECT_FLOAT_EQ(f_field("   1.0-5"), 1.0e-5f);
  EXPECT_FLOAT_EQ(f_field("    15E2"), 1.5f);  // implied decimals apply before the exponent
}

TEST(FField, SpecialValues) {
  EXPECT_TRUE(std::isinf(f_field("     Inf")));
  EXPECT_LT(f_field("-infinity", 0), 0.0f);
  EXPECT_TRUE(std::isnan(f_field("     NaN")));
}

TEST(FField, RangeLimits) {
  float v = 1.0f;
  EXPECT_EQ(read_f_field("1.0E+50", 3, v), kIoBadData);
  EXPECT_EQ(f_field("1.0E-50"), 0.0f);
  EXPECT_EQ(f_field("1.0E-99999999999"), 0.0f);
  EXPECT_EQ(read_f_field("1.0E+99999999999", 3, v), kIoBadData);
  EXPECT_GT(f_field("1.0E-40"), 0.0f);  // subnormal, not flushed
}

TEST(FField, MalformedFieldsAreBadDataAndLeaveTheValue) {
  for (std::string_view text : {"********", "  1.2.3 ", "   abc  ", "  1.5E  ", "      - ",
                                "  1.5x  ", "     1e+", "  --1.0 ", "   .    ", "  1,5   "}) {
    float v = 7.0f;
    EXPECT_EQ(read_f_field(text, 3, v), kIoBadData) << '"' << text << '"';
    EXPECT_EQ(v, 7.0f);
  }
}

TEST(IField, ReadsSignedIntegersIgnoringBlanks) {
  std::int32_t v = 0;
  EXPECT_EQ(read_i_field("     200", v), kIoOk);
  EXPECT_EQ(v, 200);
  EXPECT_EQ(read_i_field("  -1 2  ", v), kIoOk);
  EXPECT_EQ(v, -12);
  EXPECT_EQ(read_i_field("        ", v), kIoOk);
  EXPECT_EQ(v, 0);
  EXPECT_EQ(read_i_field("-2147483648", v), kIoOk);
  EXPECT_EQ(v, std::numeric_limits<std::int32_t>::min());
}

TEST(IField, RejectsNonIntegersAndOverflow) {
  for (std::string_view text :
       {"   1.0  ", "2147483648", "99999999999999999999", "   +    ", "  12a   "}) {
    std::int32_t v = 5;
    EXPECT_EQ(read_i_field(text, v), kIoBadData) << text;
    EXPECT_EQ(v, 5);
  }
}

TEST(ListDirected, ValueEndsAtBlankCommaOrSlash) {
  std::int32_t i = 0;
  EXPECT_EQ(read_list_int("   42 junk", i), kIoOk);
  EXPECT_EQ(i, 42);
  EXPECT_EQ(read_list_int("-7,8", i), kIoOk);
  EXPECT_EQ(i, -7);
  EXPECT_EQ(read_list_int("13/", i), kIoOk);
  EXPECT_EQ(i, 13);
  float r = 0.0f;
  EXPECT_EQ(read_list_real("2.5e-1", r), kIoOk);
  EXPECT_FLOAT_EQ(r, 0.25f);
  EXPECT_EQ(read_list_real("3", r), kIoOk);
  EXPECT_FLOAT_EQ(r, 3.0f);  // no implied decimals in list-directed input
  EXPECT_EQ(read_list_real("  -1.5D2 ", r), kIoOk);
  EXPECT_FLOAT_EQ(r, -150.0f);
}

TEST(ListDirected, MalformedOrMissingValues) {
  std::int32_t i = 9;
  EXPECT_EQ(read_list_int("", i), kIoBadData);
  EXPECT_EQ(read_list_int("    ", i), kIoBadData);
  EXPECT_EQ(read_list_int("2.5", i), kIoBadData);
  EXPECT_EQ(read_list_int("x", i), kIoBadData);
  EXPECT_EQ(i, 9);
  float r = 9.0f;
  EXPECT_EQ(read_list_real("abc", r), kIoBadData);
  EXPECT_EQ(read_list_real(",", r), kIoBadData);
  EXPECT_EQ(r, 9.0f);
}

}  // namespace
}  // namespace kvtraj

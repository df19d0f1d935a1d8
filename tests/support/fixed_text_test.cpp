#include <gtest/gtest.h>

#include "support/fixed_text.hpp"

namespace kvtraj {
namespace {

TEST(FixedText, TrimRightRemovesOnlyTrailingBlanks) {
  EXPECT_EQ(trim_right("  run.dcd   "), "  run.dcd");
  EXPECT_EQ(trim_right("     "), "");
  EXPECT_EQ(trim_right(""), "");
}

TEST(FixedText, FitTextCutsAndPads) {
  EXPECT_EQ(fit_text("abc", 5), "abc  ");
  EXPECT_EQ(fit_text("abcdef", 4), "abcd");
  EXPECT_EQ(fit_text("", 3), "   ");
  EXPECT_EQ(fit_text(std::string(200, 'x'), kNameLength).size(), kNameLength);
}

TEST(FixedText, ComparisonIgnoresTrailingBlanksOnly) {
  EXPECT_TRUE(same_text("dcd", "dcd      "));
  EXPECT_TRUE(same_text("", "   "));
  EXPECT_FALSE(same_text("dcd", " dcd"));
  EXPECT_FALSE(same_text("dcd", "DCD"));
}

}  // namespace
}  // namespace kvtraj

// xparse: the selection syntax, its defaults and the selections that are syntax errors.
#include <gtest/gtest.h>

#include "trajsrc/trajsrc.hpp"

namespace kvtraj {
namespace {

struct Parsed {
  std::int32_t first = -9, last = -9, stride = -9, error = -9;
  bool operator==(const Parsed&) const = default;
};

Parsed parse(std::string_view text) {
  Parsed p;
  xparse(text, p.first, p.last, p.stride, p.error);
  return p;
}

void PrintTo(const Parsed& p, std::ostream* os) {
  *os << p.first << ":" << p.last << ":" << p.stride << " error " << p.error;
}

TEST(Selection, FormsAndDefaults) {
  EXPECT_EQ(parse("10:50:5"), (Parsed{10, 50, 5, 0}));
  EXPECT_EQ(parse("3"), (Parsed{3, 3, 1, 0}));
  EXPECT_EQ(parse("4:9"), (Parsed{4, 9, 1, 0}));
  EXPECT_EQ(parse(":100"), (Parsed{1, 100, 1, 0}));
  EXPECT_EQ(parse("7:"), (Parsed{7, 0, 1, 0}));
  EXPECT_EQ(parse("::3"), (Parsed{1, 0, 3, 0}));
  EXPECT_EQ(parse("2::4"), (Parsed{2, 0, 4, 0}));
  EXPECT_EQ(parse(" 12 : 40 : 2 "), (Parsed{12, 40, 2, 0}));
  EXPECT_EQ(parse("5:0"), (Parsed{5, 0, 1, 0}));  // last 0: up to the last frame
  EXPECT_EQ(parse("2147483647"), (Parsed{2147483647, 2147483647, 1, 0}));
  EXPECT_EQ(parse(""), (Parsed{1, 0, 1, 0}));
  EXPECT_EQ(parse("   "), (Parsed{1, 0, 1, 0}));
}

TEST(Selection, ForeignCharactersGiveTheirPosition) {
  EXPECT_EQ(parse("a").error, 1);
  EXPECT_EQ(parse("1:2x").error, 4);
  EXPECT_EQ(parse("-3").error, 1);
  EXPECT_EQ(parse("1,5").error, 2);
}

TEST(Selection, ThreeColonsAreAnError) {
  EXPECT_EQ(parse("1:2:3:4").error, -2);
  EXPECT_EQ(parse(":::").error, -2);
}

TEST(Selection, ZeroOverflowAndBackwardsSelectionsAreErrors) {
  for (const char* text :
       {"0", "0:5", "1:5:0", "::0", "2147483648", "1:99999999999", "1:2:4294967297", "50:10"}) {
    EXPECT_EQ(parse(text).error, -3) << text;
  }
}

}  // namespace
}  // namespace kvtraj

// Flag lookup and typed option values over a command line set by the test.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "clopts/clopts.hpp"
#include "tests/testsupport/testsupport.hpp"

namespace kvtraj {
namespace {

void command(std::vector<std::string> args) {
  args.insert(args.begin(), "prog");
  set_arguments(std::move(args));
}

TEST(Clopts, LastOccurrenceWins) {
  command({"-n", "5", "-x", "-n", "7"});
  std::int32_t n = 0;
  EXPECT_TRUE(getiarg("-n", n));
  EXPECT_EQ(n, 7);
}

TEST(Clopts, FlagAloneHasNoValue) {
  command({"-v"});
  EXPECT_TRUE(getflag("-v"));
  std::string value = "keep";
  EXPECT_FALSE(getcarg("-v", value));
  EXPECT_EQ(value, "keep");
  std::int32_t n = 4;
  EXPECT_FALSE(getiarg("-v", n));
  EXPECT_EQ(n, 4);
}

TEST(Clopts, AFlagCanBeAnotherFlagsValue) {
  command({"-o", "-q"});
  std::string value;
  EXPECT_TRUE(getcarg("-o", value));
  EXPECT_EQ(value, "-q");
  EXPECT_TRUE(getflag("-q"));
  // A match in the value position of another flag counts for the typed queries too.
  command({"-m", "-n", "3"});
  std::int32_t n = 0;
  EXPECT_TRUE(getiarg("-n", n));
  EXPECT_EQ(n, 3);
}

TEST(Clopts, EmptyCommandLineFindsNothing) {
  command({});
  std::string text = "default";
  std::int32_t n = 11;
  float r = 1.5f;
  EXPECT_FALSE(getflag("-a"));
  EXPECT_FALSE(getcarg("-a", text));
  EXPECT_FALSE(getiarg("-a", n));
  EXPECT_FALSE(getrarg("-a", r));
  EXPECT_EQ(text, "default");
  EXPECT_EQ(n, 11);
  EXPECT_EQ(r, 1.5f);
}

TEST(Clopts, FlagLastOrAbsentLeavesValues) {
  command({"-a", "1", "-r"});
  float r = 9.0f;
  EXPECT_FALSE(getrarg("-r", r));
  EXPECT_FALSE(getrarg("-z", r));
  EXPECT_EQ(r, 9.0f);
  EXPECT_TRUE(getflag("-r"));
}

TEST(Clopts, ReadsRealsAndIntegersListDirected) {
  command({"-r", "2.5e-1", "-s", "3", "-t", "-4.5D2", "-i", "  12,13", "-j", "+8/", "-k", "-6 9"});
  float r = 0.0f;
  EXPECT_TRUE(getrarg("-r", r));
  EXPECT_EQ(r, 0.25f);
  EXPECT_TRUE(getrarg("-s", r));
  EXPECT_EQ(r, 3.0f);
  EXPECT_TRUE(getrarg("-t", r));
  EXPECT_EQ(r, -450.0f);
  std::int32_t n = 0;
  EXPECT_TRUE(getiarg("-i", n));
  EXPECT_EQ(n, 12);
  EXPECT_TRUE(getiarg("-j", n));
  EXPECT_EQ(n, 8);
  EXPECT_TRUE(getiarg("-k", n));
  EXPECT_EQ(n, -6);
}

TEST(Clopts, MatchingIsExactButIgnoresTrailingBlanks) {
  command({"-Out", "a.dat", "-o  ", "b.dat"});
  std::string value;
  EXPECT_FALSE(getcarg("-out", value));
  EXPECT_FALSE(getcarg("-O", value));
  EXPECT_TRUE(getcarg("-o", value));
  EXPECT_EQ(value, "b.dat");
  EXPECT_TRUE(getcarg("-Out   ", value));
  EXPECT_EQ(value, "a.dat");
}

TEST(Clopts, TextValuesTakeTheCallersLength) {
  const std::string long_name = std::string(200, 'p') + ".dcd";
  command({"-i", "trajectory.dcd", "-l", long_name});
  std::string value;
  EXPECT_TRUE(getcarg("-i", value, 5));
  EXPECT_EQ(value, "traje");
  EXPECT_TRUE(getcarg("-l", value, 300));
  EXPECT_EQ(value, long_name);
  EXPECT_TRUE(getcarg("-l", value));
  EXPECT_EQ(value, std::string(160, 'p'));
}

TEST(Clopts, ArgcArgvForm) {
  const char* argv[] = {"prog", "-n", "42"};
  set_arguments(3, argv);
  std::int32_t n = 0;
  EXPECT_TRUE(getiarg("-n", n));
  EXPECT_EQ(n, 42);
}

TEST(Clopts, MalformedNumbersAreFatal) {
  command({"-n", "12abc", "-r", "1.2.3", "-e", "", "-b", "99999999999"});
  std::int32_t n = 0;
  float r = 0.0f;
  KVTRAJ_EXPECT_FATAL(getiarg("-n", n), "^Cannot read an integer for option -n from \"12abc\"\n");
  KVTRAJ_EXPECT_FATAL(getrarg("-r", r), "^Cannot read a real for option -r from \"1.2.3\"\n");
  KVTRAJ_EXPECT_FATAL(getrarg("-e", r), "option -e from \"\"");
  KVTRAJ_EXPECT_FATAL(getiarg("-b", n), "option -b from \"99999999999\"");
}

// Without set_arguments the module reads the process's own arguments. The threadsafe death-test
// style runs this in a freshly started copy of the test program, whose command line holds the
// test filter below.
TEST(CloptsProcess, ReadsItsOwnCommandLine) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(std::exit(getflag("--gtest_filter=CloptsProcess.ReadsItsOwnCommandLine") ? 0 : 3),
              ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace kvtraj

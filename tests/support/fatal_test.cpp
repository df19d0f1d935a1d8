#include <gtest/gtest.h>

#include "support/fatal.hpp"
#include "tests/testsupport/testsupport.hpp"

namespace kvtraj {
namespace {

TEST(FatalDeathTest, DefaultActionExitsWithStatusOneAfterTheMessage) {
  EXPECT_EXIT(die("Memory allocation error"), ::testing::ExitedWithCode(1),
              "^Memory allocation error\n$");
  KVTRAJ_EXPECT_FATAL(die(stdout, "Error - too many file handles needed"),
                      "^Error - too many file handles needed\n$");
}

TEST(Fatal, ReplacedActionTurnsTheExitIntoAnException) {
  const FatalAction previous = set_fatal_action(throw_fatal_error);
  ::testing::internal::CaptureStderr();
  try {
    die("something failed");
    ADD_FAILURE() << "die returned";
  } catch (const FatalError& e) {
    EXPECT_EQ(e.status, 1);
    EXPECT_STREQ(e.what(), "something failed");
  }
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "something failed\n");
  EXPECT_EQ(set_fatal_action(previous), throw_fatal_error);
}

TEST(Fatal, FailedAllocationIsFatal) {
  const FatalAction previous = set_fatal_action(throw_fatal_error);
  ::testing::internal::CaptureStderr();
  EXPECT_THROW(allocate_or_die<double>(std::size_t{1} << 62), FatalError);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Memory allocation error\n");
  set_fatal_action(previous);
  EXPECT_EQ(allocate_or_die<float>(3), std::vector<float>(3, 0.0f));
}

}  // namespace
}  // namespace kvtraj

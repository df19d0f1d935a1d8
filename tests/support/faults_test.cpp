#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <string>

#include "support/fatal.hpp"
#include "support/files.hpp"
#include "support/interrupts.hpp"
#include "tests/testsupport/testsupport.hpp"

namespace kvtraj {
namespace {

using testing::read_file;
using testing::TempDir;
using testing::write_file;

// A directory opens for reading but every read of it fails (EISDIR): a real failed read.
TEST(FailedIo, AReadFailureIsFatalWithTheFileAndTheReason) {
  TempDir dir;
  const FatalAction previous = set_fatal_action(throw_fatal_error);
  ::testing::internal::CaptureStderr();
  FilePtr f = open_file(dir.root(), "rb");
  ASSERT_TRUE(f);
  char byte = 0;
  try {
    read_exact(f.get(), &byte, 1);
    ADD_FAILURE() << "the failed read went unnoticed";
  } catch (const FatalError& e) {
    EXPECT_EQ(std::string(e.what()), dir.root() + ": could not be read: " + std::strerror(EISDIR));
  }
  ::testing::internal::GetCapturedStderr();
  set_fatal_action(previous);
}

// RLIMIT_FSIZE makes the writes past the limit fail with EFBIG (SIGXFSZ ignored).
TEST(FailedIo, AWriteFailureIsNeverCommittedAndLeavesNoTemporary) {
  TempDir dir;
  const std::string target = dir.path("out");
  write_file(target, "old");
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto handler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 1000;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  auto out = ReplacingFile::create(target);
  ASSERT_TRUE(out);
  const std::string block(4096, 'x');
  std::fwrite(block.data(), 1, block.size(), out->get());
  errno = 0;
  const bool committed = out->commit();
  const int err = errno;
  out.reset();
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, handler);
  EXPECT_FALSE(committed);
  EXPECT_EQ(err, EFBIG);
  EXPECT_EQ(read_file(target), "old");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.root()), {}), 1);
}

TEST(Temporaries, RemovedWhileRememberedOnly) {
  TempDir dir;
  write_file(dir.path("kept"), "1");
  write_file(dir.path("removed"), "2");
  const int kept = remember_temporary(dir.path("kept"));
  const int removed = remember_temporary(dir.path("removed"));
  ASSERT_GE(kept, 0);
  ASSERT_NE(kept, removed);
  forget_temporary(kept);
  remove_temporaries();
  forget_temporary(removed);
  EXPECT_TRUE(file_exists(dir.path("kept")));
  EXPECT_FALSE(file_exists(dir.path("removed")));
}

// A signal after the outcome is reported ends with that outcome's status, silently, and still
// removes the temporaries.
TEST(Temporaries, SignalAfterTheOutcomeEndsQuietlyWithItsStatus) {
  TempDir dir;
  write_file(dir.path("partial"), "1");
  EXPECT_EXIT(
      {
        stop_on_signals("prog");
        remember_temporary(dir.path("partial"));
        end_quietly_on_signals(3);
        std::raise(SIGTERM);
      },
      ::testing::ExitedWithCode(3), "^$");
  EXPECT_FALSE(file_exists(dir.path("partial")));
}

}  // namespace
}  // namespace kvtraj

// For the topology tests: the one line a reader writes before it refuses its input.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>

#include "tests/testsupport/testsupport.hpp"

namespace kvtraj::testing {

// What `statement` wrote before its fatal exit, which must be exactly one line (the line break
// dropped); empty when it returned instead.
inline std::string fatal_line(const std::function<void()>& statement) {
  const FatalOutcome outcome = catch_fatal(statement);
  EXPECT_TRUE(outcome.raised) << "no fatal exit";
  EXPECT_EQ(std::count(outcome.texts.begin(), outcome.texts.end(), '\n'), 1) << outcome.texts;
  std::string line = outcome.texts;
  if (!line.empty() && line.back() == '\n') line.pop_back();
  return line;
}

}  // namespace kvtraj::testing

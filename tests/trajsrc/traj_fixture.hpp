// A fixture for trajectory-source tests: a fresh handle table, a temporary directory and
// xopen / xsnap with their standard output captured.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fmtreaders/fmtreaders.hpp"
#include "tests/fmtreaders/crafted.hpp"
#include "trajsrc/trajsrc.hpp"

namespace kvtraj::testing {

class TrajTest : public ::testing::Test {
 protected:
  void SetUp() override { f77_molfile_init(); }
  void TearDown() override { f77_molfile_init(); }

  std::string put(const std::string& name, const std::string& bytes) {
    write_file(dir.path(name), bytes);
    return dir.path(name);
  }
  // xopen with the caller's natoms in and out.
  trajectory open_with(const std::string& name, std::int32_t& natoms) {
    ::testing::internal::CaptureStdout();
    trajectory t = xopen(name, natoms);
    out = ::testing::internal::GetCapturedStdout();
    return t;
  }
  trajectory open(const std::string& name, std::int32_t natoms = 0) {
    return open_with(name, natoms);
  }
  // Snapshot i of t into coords (sized for t.natoms); returns t.status.
  std::int32_t snap(trajectory& t, std::int32_t i) {
    coords.assign(3 * static_cast<std::size_t>(t.natoms), -7.0f);
    ::testing::internal::CaptureStdout();
    xsnap(t, coords, i);
    out = ::testing::internal::GetCapturedStdout();
    return t.status;
  }
  // Handles in use in the table.
  static int open_handles() {
    int n = 0;
    for (int i = 0; i < kHandleSlots; ++i) n += handcom()[static_cast<std::size_t>(i)] > 0;
    return n;
  }

  TempDir dir;
  std::string out;
  std::vector<float> coords;
};

}  // namespace kvtraj::testing

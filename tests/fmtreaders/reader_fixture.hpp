// A test fixture over the handle table: opens files with their messages captured and reads
// frames into arrays of the right size.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "fmtreaders/fmtreaders.hpp"
#include "tests/fmtreaders/crafted.hpp"

namespace kvtraj::testing {

class ReaderTest : public ::testing::Test {
 protected:
  void SetUp() override { f77_molfile_init(); }
  void TearDown() override { f77_molfile_init(); }

  // Opens `path` as `type` with the caller's natoms; messages land in `out`.
  std::int32_t open(const std::string& path, const char* type, std::int32_t& natoms) {
    std::int32_t handle = 0;
    ::testing::internal::CaptureStdout();
    f77_molfile_open_read(handle, natoms, path, type);
    out = ::testing::internal::GetCapturedStdout();
    return handle;
  }
  std::int32_t open(const std::string& path, const char* type = "auto") {
    std::int32_t natoms = 0;
    return open(path, type, natoms);
  }
  // Writes `bytes` to a file called `name` and opens it.
  std::int32_t open_bytes(const std::string& name, const std::string& bytes,
                          const char* type = "auto") {
    write_file(dir.path(name), bytes);
    return open(dir.path(name), type);
  }

  // Reads one frame of `natoms` atoms into coords and box; the status of read_next.
  std::int32_t read(std::int32_t handle, std::int32_t natoms) {
    coords.assign(3 * static_cast<std::size_t>(natoms), -7.0f);
    std::int32_t status = -9;
    f77_molfile_read_next(handle, natoms, coords, box, status);
    return status;
  }

  TempDir dir;
  std::string out;
  std::vector<float> coords;
  std::array<float, 6> box{};
};

}  // namespace kvtraj::testing

// A disk that fills up part-way through a conversion or a mesh: the programs report it with a
// non-zero status, the file that stood under the output's name is left as it was, and no
// temporary file is left beside it.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>

#include "tests/testsupport/testsupport.hpp"
#include "tests/tools/converter_run.hpp"

namespace kvtraj::testing {
namespace {

constexpr long kRoom = 2000;  // bytes a program may write before the disk is "full"

std::size_t entries(const TempDir& dir) {
  return static_cast<std::size_t>(
      std::distance(std::filesystem::directory_iterator(dir.root()), {}));
}

TEST(WriteFailures, ConvertersKeepTheExistingOutput) {
  // blobcrd's records carry a state line, the others' do not.
  for (const auto& [program, state] :
       {std::pair{BLOBCRD, true}, {BLOBXYZ, false}, {BLOBPDB, false}}) {
    TempDir dir;
    write_file(dir.path("out"), "precious");
    const Conversion c = convert_text(program, numbered_records(400, state), dir, kRoom);
    EXPECT_NE(c.run.status, 0) << program;
    EXPECT_NE(c.run.out.find("ould not write"), std::string::npos) << program << c.run.out;
    EXPECT_EQ(c.output, "precious") << program;
    EXPECT_EQ(entries(dir), 2u) << program;  // in.txt and out
  }
}

TEST(WriteFailures, MeshKeepsTheExistingFiles) {
  TempDir dir;
  write_file(dir.path("nodes"), "precious nodes");
  write_file(dir.path("topology"), "precious topology");
  const RunResult r =
      run_program(BLOBGRID, {"20", "20", "20", dir.path("nodes"), dir.path("topology")}, {}, kRoom);
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.out.find("Unable to write nodes file"), std::string::npos) << r.out;
  EXPECT_EQ(read_file(dir.path("nodes")), "precious nodes");
  EXPECT_EQ(read_file(dir.path("topology")), "precious topology");
  EXPECT_EQ(entries(dir), 2u);
}

}  // namespace
}  // namespace kvtraj::testing

// The handle table: slots, type choice by name, dispatch, and handles outside the table.
#include <gtest/gtest.h>

#include <filesystem>

#include "fmtreaders/fmtreaders.hpp"
#include "tests/fmtreaders/crafted.hpp"
#include "tests/fmtreaders/reader_fixture.hpp"

namespace kvtraj {
namespace {

using testing::pattern_dcd;
using testing::TempDir;
using testing::write_file;

// Opens without capturing standard output (death tests match what it prints).
std::int32_t raw_open(const std::string& path) {
  std::int32_t handle = 0, natoms = 0;
  f77_molfile_open_read(handle, natoms, path, "auto");
  return handle;
}

// The shared reader fixture: open with captured messages, a private directory.
using HandleTable = testing::ReaderTest;

TEST_F(HandleTable, AutoChoosesDcdByExtensionAndReportsTheFileAtomCount) {
  const std::string path = dir.path("run.dcd");
  write_file(path, pattern_dcd(3, 2));
  std::int32_t natoms = 7;
  const std::int32_t h = open(path + "   ", "auto", natoms);
  EXPECT_EQ(h, 51);
  EXPECT_EQ(natoms, 3);
  EXPECT_EQ(out,
            "file type is dcd\nAttempting to open dcd file\n"
            "Warning: dcd file resetting natoms to 3\n");
  EXPECT_EQ(f77_molfile_type(h), kTypeDcd);
  EXPECT_EQ(handcom()[0], 51);
  EXPECT_EQ(handcom()[50], kTypeDcd);
  EXPECT_FALSE(f77_molfile_has_box(h));

  natoms = 3;  // a matching count prints no warning
  EXPECT_EQ(open(path, "dcd", natoms), 52);
  EXPECT_EQ(out, "Attempting to open dcd file\n");
}

TEST_F(HandleTable, TypesByExtensionAndExplicitTypes) {
  const std::string crd = dir.path("a.crd");
  write_file(crd, "title\n");
  std::int32_t natoms = 12;
  std::int32_t h = open(crd, "auto", natoms);
  EXPECT_EQ(out, "file type is crd\nAttempting to open crd or crdbox file\n");
  EXPECT_EQ(natoms, 0);  // AMBER files carry no atom count
  EXPECT_EQ(f77_molfile_type(h), kTypeCrd);

  const std::string box = dir.path("a.crdbox");
  write_file(box, "title\n");
  h = open(box);
  EXPECT_EQ(out, "file type is crdbox\nAttempting to open crd or crdbox file\n");
  EXPECT_EQ(f77_molfile_type(h), kTypeCrdBox);
  EXPECT_TRUE(f77_molfile_has_box(h));

  const std::string plain = dir.path("noextension");
  write_file(plain, "title\n");
  EXPECT_EQ(f77_molfile_type(open(plain, "crdbox")), kTypeCrdBox);
  EXPECT_EQ(open(plain), -1);  // nothing after a "." to go by
  EXPECT_EQ(out, "Unrecognised file type\n");
}

TEST_F(HandleTable, UnrecognisedNamesAndTypesFreeTheirSlot) {
  const std::string dotted = dir.path("run.1.dcd");  // the first "." counts: "1.dcd"
  write_file(dotted, pattern_dcd(2, 1));
  EXPECT_EQ(open(dotted), -1);
  EXPECT_EQ(out, "Unrecognised file type\n");
  EXPECT_EQ(handcom()[0], 0);
  EXPECT_EQ(open(dotted, "DCD"), -1);  // explicit types are case-sensitive
  EXPECT_EQ(open(dotted, "dcd"), 51);  // the freed slot is taken again
}

TEST_F(HandleTable, DotsInDirectoryNamesDoNotCount) {
  std::filesystem::create_directory(dir.path("v1.2"));
  const std::string path = dir.path("v1.2/run.dcd");
  write_file(path, pattern_dcd(2, 1));
  EXPECT_EQ(f77_molfile_type(open(path)), kTypeDcd);
}

TEST_F(HandleTable, FiftySlotsThenFatalAndAClosedSlotIsReused) {
  const std::string path = dir.path("run.dcd");
  write_file(path, pattern_dcd(2, 1));
  for (int i = 0; i < 50; ++i) ASSERT_EQ(open(path), 51 + i);
  KVTRAJ_EXPECT_FATAL(raw_open(path), "^Error - too many file handles needed\n$");
  std::int32_t status = 5;
  f77_molfile_close_read(70, status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(f77_molfile_type(70), kTypeNone);
  EXPECT_EQ(handcom()[19], 0);
  EXPECT_EQ(handcom()[69], 0);
  EXPECT_EQ(open(path), 70);
}

TEST_F(HandleTable, MissingFileIsFatal) {
  KVTRAJ_EXPECT_FATAL(raw_open(dir.path("absent.dcd") + "  "),
                      "^.*/absent.dcd: no such file\\?\n$");
}

TEST_F(HandleTable, ReadsUntilTheLastFrameThenStatusZero) {
  const std::string path = dir.path("run.dcd");
  write_file(path, pattern_dcd(2, 2));
  const std::int32_t h = open(path);
  std::vector<float> coords(6);
  std::array<float, 6> box{};
  std::int32_t status = -9;
  for (int f = 1; f <= 2; ++f) {
    f77_molfile_read_next(h, 2, coords, box, status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(coords, testing::pattern_frame(2, f));
  }
  f77_molfile_read_next(h, 2, coords, box, status);
  EXPECT_EQ(status, 0);
}

TEST_F(HandleTable, HandlesOutsideTheTableTouchNothing) {
  const std::string path = dir.path("run.dcd");
  write_file(path, pattern_dcd(2, 1));
  ASSERT_EQ(open(path), 51);
  const auto before = handcom();
  std::vector<float> coords(6, -1.0f);
  std::array<float, 6> box{};
  for (std::int32_t h : {-1, 0, 50, 52, 101, 150, 1000000, INT32_MIN}) {
    std::int32_t status = 7;
    f77_molfile_read_next(h, 2, coords, box, status);
    EXPECT_EQ(status, 0) << h;
    f77_molfile_close_read(h == 52 ? 101 : h, status);
    EXPECT_EQ(status, 0) << h;
    EXPECT_EQ(f77_molfile_type(h), kTypeNone) << h;
    EXPECT_EQ(f77_molfile_skip_next(h, 2, 1), 0) << h;
  }
  EXPECT_EQ(handcom(), before);
  EXPECT_EQ(coords, std::vector<float>(6, -1.0f));
}

TEST_F(HandleTable, ReopeningAfterCloseStartsAgainAndSeesAChangedFile) {
  const std::string path = dir.path("run.binpos");
  write_file(path, testing::pattern_binpos(2, 3, true));
  std::vector<float> coords(6);
  std::array<float, 6> box{};
  std::int32_t natoms = 2, status = 0;
  std::int32_t h = open(path, "auto", natoms);
  f77_molfile_read_next(h, 2, coords, box, status);
  f77_molfile_read_next(h, 2, coords, box, status);
  f77_molfile_close_read(h, status);
  h = open(path, "auto", natoms);  // the same messages as the first open
  EXPECT_EQ(out, "file type is binpos\nAttempting to open binpos file\nbinpos file has box\n");
  EXPECT_EQ(f77_molfile_type(h), kTypeBinposBox);
  f77_molfile_read_next(h, 2, coords, box, status);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(coords, testing::pattern_frame(2, 1));
  f77_molfile_close_read(h, status);
  // Rewritten with another layout: the reopen reads the new file.
  std::filesystem::remove(path);
  write_file(path, testing::pattern_binpos(1, 2, false));
  h = open(path, "auto", natoms);
  EXPECT_EQ(out,
            "file type is binpos\nAttempting to open binpos file\n"
            "Warning: binpos file resetting natoms to 1\n");
  EXPECT_EQ(f77_molfile_type(h), kTypeBinpos);
  f77_molfile_read_next(h, 1, coords, box, status);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(std::vector<float>(coords.begin(), coords.begin() + 3), testing::pattern_frame(1, 1));
}

TEST_F(HandleTable, InitForgetsOpenFiles) {
  const std::string path = dir.path("run.dcd");
  write_file(path, pattern_dcd(2, 1));
  open(path);
  open(path);
  f77_molfile_init();
  EXPECT_EQ(f77_molfile_type(51), kTypeNone);
  EXPECT_EQ(open(path), 51);
}

}  // namespace
}  // namespace kvtraj

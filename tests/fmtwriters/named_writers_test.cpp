// PDB and GRO, the formats that name every atom: byte-exact models and frames of three atoms
// whose records exercise the columns (name alignment, an ion's two-letter element, a four-letter
// name, serials and residue numbers past their fields), cells rectangular and triclinic, and the
// failures: no records or the wrong number of them, values wider than a column.
#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

#include "fmtwriters/fmtwriters.hpp"
#include "tests/testsupport/testsupport.hpp"

namespace kvtraj {
namespace {

using testing::read_file;
using testing::TempDir;
using testing::write_file;

const std::vector<AtomRecord> kAtoms = {
    {1, "N", 1, "ALA", "A"}, {123456, "HD21", 12345, "ASN", "A"}, {100000, "CL", 9999, "CL", ""}};
const std::vector<float> kFirst = {1, 2, 3, -4.5f, 5.25f, 6, 7.25f, -8, 9.5f};
const std::vector<float> kSecond = {10, 20, 30, -100.5f, 0.25f, 999.99f, -999.5f, 0, 0.01f};
const UnitCell kTriclinic{30, 40, 50, 80, 95, 110};

void write(const std::string& path, TrajectoryFormat format, bool with_cell, const UnitCell& cell,
           const std::vector<std::vector<float>>& frames) {
  auto w = TrajectoryWriter::create(path, format, 3, with_cell, "three atoms", 0.0f, kAtoms);
  ASSERT_TRUE(w);
  for (const auto& frame : frames) ASSERT_TRUE(w->write_frame(frame, cell));
  ASSERT_TRUE(w->finish());
}

std::string last_line(const std::string& text) {
  const std::size_t end = text.size() - 1, start = text.rfind('\n', end - 1) + 1;
  return text.substr(start, end - start);
}

TEST(PdbWriter, ModelsOfAtomRecordsInThePdbColumns) {
  TempDir dir;
  write(dir.path("box.pdb"), TrajectoryFormat::pdb, true, kTriclinic, {kFirst, kSecond});
  const std::string cryst =
      "CRYST1   30.000   40.000   50.000  80.00  95.00 110.00 P 1           1\n";
  const std::string first =
      "MODEL        1\n"
      "ATOM      1  N   ALA A   1       1.000   2.000   3.000  1.00  0.00           N\n"
      "ATOM  23456 HD21 ASN A2345      -4.500   5.250   6.000  1.00  0.00           H\n"
      "ATOM      0 CL    CL  9999       7.250  -8.000   9.500  1.00  0.00          CL\n"
      "ENDMDL\n";
  const std::string second =
      "MODEL        2\n"
      "ATOM      1  N   ALA A   1      10.000  20.000  30.000  1.00  0.00           N\n"
      "ATOM  23456 HD21 ASN A2345    -100.500   0.250 999.990  1.00  0.00           H\n"
      "ATOM      0 CL    CL  9999    -999.500   0.000   0.010  1.00  0.00          CL\n"
      "ENDMDL\n";
  const std::string title = "TITLE     three atoms\n";
  EXPECT_EQ(read_file(dir.path("box.pdb")), title + cryst + first + cryst + second + "END\n");
  write(dir.path("plain.pdb"), TrajectoryFormat::pdb, false, kTriclinic, {kFirst, kSecond});
  EXPECT_EQ(read_file(dir.path("plain.pdb")), title + first + second + "END\n");
}

TEST(GroWriter, FramesWithTimesAndBoxesInNanometres) {
  TempDir dir;
  write(dir.path("box.gro"), TrajectoryFormat::gro, true, UnitCell{30, 40, 50}, {kFirst, kSecond});
  EXPECT_EQ(read_file(dir.path("box.gro")),
            "three atoms t=   0.00000 step= 0\n"
            "    3\n"
            "    1ALA      N    1   0.100   0.200   0.300\n"
            "12345ASN   HD2123456  -0.450   0.525   0.600\n"
            " 9999CL      CL    0   0.725  -0.800   0.950\n"
            "   3.00000   4.00000   5.00000\n"
            "three atoms t=   1.00000 step= 1\n"
            "    3\n"
            "    1ALA      N    1   1.000   2.000   3.000\n"
            "12345ASN   HD2123456 -10.050   0.025  99.999\n"
            " 9999CL      CL    0 -99.950   0.000   0.001\n"
            "   3.00000   4.00000   5.00000\n");
  write(dir.path("tri.gro"), TrajectoryFormat::gro, true, kTriclinic, {kFirst});
  EXPECT_EQ(last_line(read_file(dir.path("tri.gro"))),
            "   3.00000   3.75877   4.92182   0.00000   0.00000  -1.36808   0.00000  -0.43578   "
            "0.76535");
  write(dir.path("plain.gro"), TrajectoryFormat::gro, false, kTriclinic, {kFirst});
  EXPECT_EQ(last_line(read_file(dir.path("plain.gro"))), "   0.00000   0.00000   0.00000");
}

TEST(NamedWriters, NeedOneRecordPerAtomAndRefuseValuesWiderThanTheirColumns) {
  TempDir dir;
  ::testing::internal::CaptureStdout();
  EXPECT_FALSE(TrajectoryWriter::create(dir.path("a.pdb"), TrajectoryFormat::pdb, 3, false, ""));
  EXPECT_FALSE(TrajectoryWriter::create(dir.path("a.gro"), TrajectoryFormat::gro, 4, false, "",
                                        0.0f, kAtoms));
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            dir.path("a.pdb") + ": PDB output needs atom names: give a topology\n" +
                dir.path("a.gro") + ": GRO output of 4 atoms got 3 atom records\n");

  for (const auto& [name, format, value, message] :
       {std::tuple{"wide.pdb", TrajectoryFormat::pdb, 12345.0f,
                   "value 12345 in frame 2 does not fit the 8 columns of a PDB coordinate field\n"},
        std::tuple{
            "wide.gro", TrajectoryFormat::gro, -10000.0f,
            "value -1000 in frame 2 does not fit the 8 columns of a GRO coordinate field\n"}}) {
    const std::string path = dir.path(name);
    write_file(path, "previous good file\n");
    auto w = TrajectoryWriter::create(path, format, 3, false, "", 0.0f, kAtoms);
    ASSERT_TRUE(w);
    ASSERT_TRUE(w->write_frame(kFirst));
    std::vector<float> far = kFirst;
    far[7] = value;
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(w->write_frame(far));
    EXPECT_FALSE(w->finish());
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), message);
    w.reset();
    EXPECT_EQ(read_file(path), "previous good file\n");
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.root()),
                          std::filesystem::directory_iterator()),
            2);
}

}  // namespace
}  // namespace kvtraj

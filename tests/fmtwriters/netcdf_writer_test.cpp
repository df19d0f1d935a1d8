// The AMBER NetCDF writer, read back through the NetCDF library: the convention's attributes,
// dimensions and variables, values in place, and no file until it is complete.
#include <gtest/gtest.h>
#include <netcdf.h>

#include <array>
#include <filesystem>

#include "fmtwriters/fmtwriters.hpp"
#include "tests/fmtwriters/two_frames.hpp"
#include "tests/testsupport/testsupport.hpp"

namespace kvtraj {
namespace {

using testing::kFrame1;
using testing::kFrame2;
using testing::read_file;
using testing::TempDir;
using testing::write_file;

const UnitCell kBox{47.66f, 53.96f, 47.42f, 90.0f, 100.0f, 120.0f};

std::string text_attribute(int nc, int var, const char* name) {
  std::size_t length = 0;
  if (nc_inq_attlen(nc, var, name, &length) != NC_NOERR) return "(absent)";
  std::string text(length, '\0');
  nc_get_att_text(nc, var, name, text.data());
  return text;
}

int var_id(int nc, const char* name) {
  int id = -1;
  return nc_inq_varid(nc, name, &id) == NC_NOERR ? id : -1;
}

TEST(NetcdfWriter, WritesTheAmberConventionWithAndWithoutCells) {
  TempDir dir;
  for (const bool with_cell : {false, true}) {
    const std::string path = dir.path(with_cell ? "box.nc" : "plain.nc");
    testing::write_two_frames(path, TrajectoryFormat::netcdf, with_cell, kBox);

    int nc = -1, format = 0, frame = -1, unlimited = -2;
    ASSERT_EQ(nc_open(path.c_str(), NC_NOWRITE, &nc), NC_NOERR);
    nc_inq_format(nc, &format);
    EXPECT_EQ(format, NC_FORMAT_64BIT_OFFSET);
    EXPECT_EQ(text_attribute(nc, NC_GLOBAL, "Conventions"), "AMBER");
    EXPECT_EQ(text_attribute(nc, NC_GLOBAL, "ConventionVersion"), "1.0");
    EXPECT_EQ(text_attribute(nc, NC_GLOBAL, "title"), "two frames");
    EXPECT_EQ(text_attribute(nc, NC_GLOBAL, "program"), "kvt");
    nc_inq_dimid(nc, "frame", &frame);
    nc_inq_unlimdim(nc, &unlimited);
    EXPECT_EQ(frame, unlimited);
    std::size_t frames = 0;
    nc_inq_dimlen(nc, frame, &frames);
    EXPECT_EQ(frames, 2u);
    const int coordinates = var_id(nc, "coordinates");
    EXPECT_EQ(text_attribute(nc, coordinates, "units"), "angstrom");
    std::vector<float> all(12);
    ASSERT_EQ(nc_get_var_float(nc, coordinates, all.data()), NC_NOERR);
    EXPECT_EQ(std::vector<float>(all.begin(), all.begin() + 6), kFrame1);
    EXPECT_EQ(std::vector<float>(all.begin() + 6, all.end()), kFrame2);
    EXPECT_EQ(text_attribute(nc, var_id(nc, "time"), "units"), "picosecond");
    const int lengths = var_id(nc, "cell_lengths"), angles = var_id(nc, "cell_angles");
    EXPECT_EQ(lengths >= 0 && angles >= 0, with_cell);
    if (with_cell) {
      std::array<double, 6> l{}, a{};
      nc_get_var_double(nc, lengths, l.data());
      nc_get_var_double(nc, angles, a.data());
      EXPECT_EQ(l[3], static_cast<double>(kBox.a));
      EXPECT_EQ(l[5], static_cast<double>(kBox.c));
      EXPECT_EQ(a[4], 100.0);
      EXPECT_EQ(a[5], 120.0);
      char labels[16] = {};
      nc_get_var_text(nc, var_id(nc, "cell_angular"), labels);
      EXPECT_EQ(std::string(labels, 15), "alphabeta gamma");
    }
    nc_close(nc);
  }
}

TEST(NetcdfWriter, AbandonedWriteLeavesTheOldFileAndNoTemporary) {
  TempDir dir;
  const std::string path = dir.path("out.nc");
  write_file(path, "previous good file\n");
  auto w = TrajectoryWriter::create(path, TrajectoryFormat::netcdf, 2, true, "");
  ASSERT_TRUE(w);
  ASSERT_TRUE(w->write_frame(kFrame1, kBox));
  EXPECT_EQ(read_file(path), "previous good file\n");
  w.reset();
  EXPECT_EQ(read_file(path), "previous good file\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.root()),
                          std::filesystem::directory_iterator()),
            1);
}

}  // namespace
}  // namespace kvtraj

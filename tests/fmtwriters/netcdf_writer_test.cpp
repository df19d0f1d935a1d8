// The AMBER NetCDF writer, read back through the NetCDF library: the convention's attributes,
// dimensions and variables, values in place, the same bytes as the library writes for the same
// definitions, and no file until it is complete.
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

// kFrame1 and kFrame2 written by the NetCDF library (64-bit offsets, no fill), defined in the
// writer's order with the attributes it gives, `version` as programVersion.
void write_with_library(const std::string& path, bool with_cell, const std::string& version) {
  int nc = -1, frame = -1, spatial = -1, atom = -1, cs = -1, ca = -1, label = -1;
  int spatial_var = -1, time = -1, coords = -1, cs_var = -1, ca_var = -1, len = -1, ang = -1;
  ASSERT_EQ(nc_create(path.c_str(), NC_CLOBBER | NC_64BIT_OFFSET, &nc), NC_NOERR);
  nc_set_fill(nc, NC_NOFILL, nullptr);
  const auto text = [&](int var, const char* name, const std::string& value) {
    nc_put_att_text(nc, var, name, value.size(), value.data());
  };
  const auto def = [&](const char* name, nc_type type, std::vector<int> dims, int& id) {
    nc_def_var(nc, name, type, static_cast<int>(dims.size()), dims.data(), &id);
  };
  text(NC_GLOBAL, "title", "two frames");
  text(NC_GLOBAL, "application", "kvtraj");
  text(NC_GLOBAL, "program", "kvt");
  text(NC_GLOBAL, "programVersion", version);
  text(NC_GLOBAL, "Conventions", "AMBER");
  text(NC_GLOBAL, "ConventionVersion", "1.0");
  nc_def_dim(nc, "frame", NC_UNLIMITED, &frame);
  nc_def_dim(nc, "spatial", 3, &spatial);
  nc_def_dim(nc, "atom", 2, &atom);
  def("spatial", NC_CHAR, {spatial}, spatial_var);
  def("time", NC_FLOAT, {frame}, time);
  text(time, "units", "picosecond");
  def("coordinates", NC_FLOAT, {frame, atom, spatial}, coords);
  text(coords, "units", "angstrom");
  if (with_cell) {
    nc_def_dim(nc, "cell_spatial", 3, &cs);
    nc_def_dim(nc, "cell_angular", 3, &ca);
    nc_def_dim(nc, "label", 5, &label);
    def("cell_spatial", NC_CHAR, {cs}, cs_var);
    def("cell_angular", NC_CHAR, {ca, label}, ca_var);
    def("cell_lengths", NC_DOUBLE, {frame, cs}, len);
    text(len, "units", "angstrom");
    def("cell_angles", NC_DOUBLE, {frame, ca}, ang);
    text(ang, "units", "degree");
  }
  ASSERT_EQ(nc_enddef(nc), NC_NOERR);
  nc_put_var_text(nc, spatial_var, "xyz");
  if (with_cell) {
    nc_put_var_text(nc, cs_var, "abc");
    nc_put_var_text(nc, ca_var, "alphabeta gamma");
  }
  for (std::size_t f = 0; f < 2; ++f) {
    const std::array<std::size_t, 3> start = {f, 0, 0}, count = {1, 2, 3}, cell_count = {1, 3};
    const float t = static_cast<float>(f);
    nc_put_vara_float(nc, coords, start.data(), count.data(), (f == 0 ? kFrame1 : kFrame2).data());
    nc_put_var1_float(nc, time, start.data(), &t);
    if (with_cell) {
      const std::array<double, 3> l = {kBox.a, kBox.b, kBox.c};
      const std::array<double, 3> a = {kBox.alpha, kBox.beta, kBox.gamma};
      nc_put_vara_double(nc, len, start.data(), cell_count.data(), l.data());
      nc_put_vara_double(nc, ang, start.data(), cell_count.data(), a.data());
    }
  }
  ASSERT_EQ(nc_close(nc), NC_NOERR);
}

TEST(NetcdfWriter, WritesTheBytesTheLibraryWrites) {
  TempDir dir;
  for (const bool with_cell : {false, true}) {
    const std::string ours = dir.path("ours.nc"), library = dir.path("library.nc");
    testing::write_two_frames(ours, TrajectoryFormat::netcdf, with_cell, kBox);
    int nc = -1;
    ASSERT_EQ(nc_open(ours.c_str(), NC_NOWRITE, &nc), NC_NOERR);
    const std::string version = text_attribute(nc, NC_GLOBAL, "programVersion");
    nc_close(nc);
    write_with_library(library, with_cell, version);
    EXPECT_EQ(read_file(ours), read_file(library)) << with_cell;
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

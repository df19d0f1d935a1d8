// AMBER NetCDF: a file written by MDTraj checked against MDAnalysis's reading of it, and files
// crafted with the NetCDF library that break the convention.
#include <gtest/gtest.h>
#include <netcdf.h>

#include "tests/fmtreaders/reader_fixture.hpp"

namespace kvtraj {
namespace {

using namespace kvtraj::testing;

using Netcdf = ReaderTest;

// How a crafted file is stored, and what it gets wrong.
struct NcLayout {
  int format = NC_64BIT_OFFSET;  // NC_CLASSIC_MODEL (CDF-1), NC_64BIT_DATA (CDF-5), NC_NETCDF4
  nc_type type = NC_FLOAT;       // of coordinates and cells
  bool fixed_frames = false;     // a frame dimension of length 2, not the unlimited one
  std::string conventions = "AMBER";
  std::size_t spatial = 3;
  bool coordinates = true;
  bool atom_last = false;  // coordinates (frame, spatial, atom)
  bool cell = false;
};

// Value k of frame f (from 0) in a crafted file: every value differs, exactly in floats.
float crafted(std::size_t f, std::size_t k) {
  return static_cast<float>(f + 1) * 10.0f + static_cast<float>(k) * 0.5f;
}

// A file of two frames of 2 atoms (values `crafted`) and, with a cell, lengths 10, 20, 30 and
// angles 90, 90, 120.
void write_nc(const std::string& path, const NcLayout& l) {
  int nc = -1, frame = -1, atom = -1, spatial = -1, cell_spatial = -1, cell_angular = -1;
  int coords = -1, lengths = -1, angles = -1;
  ASSERT_EQ(nc_create(path.c_str(), NC_CLOBBER | l.format, &nc), NC_NOERR);
  if (!l.conventions.empty()) {
    nc_put_att_text(nc, NC_GLOBAL, "Conventions", l.conventions.size(), l.conventions.data());
  }
  nc_def_dim(nc, "frame", l.fixed_frames ? 2 : NC_UNLIMITED, &frame);
  nc_def_dim(nc, "atom", 2, &atom);
  nc_def_dim(nc, "spatial", l.spatial, &spatial);
  const std::array<int, 3> dims = {frame, l.atom_last ? spatial : atom,
                                   l.atom_last ? atom : spatial};
  if (l.coordinates) nc_def_var(nc, "coordinates", l.type, 3, dims.data(), &coords);
  if (l.cell) {
    nc_def_dim(nc, "cell_spatial", 3, &cell_spatial);
    nc_def_dim(nc, "cell_angular", 3, &cell_angular);
    const std::array<int, 2> ls = {frame, cell_spatial}, as = {frame, cell_angular};
    nc_def_var(nc, "cell_lengths", l.type, 2, ls.data(), &lengths);
    nc_def_var(nc, "cell_angles", l.type, 2, as.data(), &angles);
  }
  ASSERT_EQ(nc_enddef(nc), NC_NOERR);
  for (std::size_t f = 0; f < 2; ++f) {
    std::vector<float> values(2 * l.spatial);
    for (std::size_t k = 0; k < values.size(); ++k) values[k] = crafted(f, k);
    const std::array<std::size_t, 3> start = {f, 0, 0};
    const std::array<std::size_t, 3> count = {1, l.atom_last ? l.spatial : 2,
                                              l.atom_last ? 2 : l.spatial};
    if (l.coordinates) nc_put_vara_float(nc, coords, start.data(), count.data(), values.data());
    if (l.cell) {
      const std::array<double, 3> abc = {10, 20, 30}, angle = {90, 90, 120};
      const std::array<std::size_t, 2> cell_count = {1, 3};
      nc_put_vara_double(nc, lengths, start.data(), cell_count.data(), abc.data());
      nc_put_vara_double(nc, angles, start.data(), cell_count.data(), angle.data());
    }
  }
  ASSERT_EQ(nc_close(nc), NC_NOERR);
}

TEST_F(Netcdf, MdtrajFileMatchesMdanalysis) {
  const std::int32_t h = open(data_path("peptide10_mdtraj.nc"));
  ASSERT_GT(h, 0) << out;
  EXPECT_EQ(out,
            "file type is nc\nAttempting to open netcdf file\n"
            "Warning: netcdf file resetting natoms to 200\n");
  EXPECT_EQ(f77_molfile_type(h), kTypeNetcdf);
  EXPECT_TRUE(f77_molfile_has_box(h));
  const std::vector<float> ref = reference("peptide10_mdtraj_nc.ref.f32");
  constexpr int kFrameValues = 3 * kPeptideAtoms + 6;
  for (int f = 0; f < kPeptideFrames; ++f) {
    ASSERT_EQ(read(h, kPeptideAtoms), 1) << f;
    const std::vector<float> want(ref.begin() + f * kFrameValues,
                                  ref.begin() + f * kFrameValues + 3 * kPeptideAtoms);
    EXPECT_EQ(coords, want) << f;
    for (int k = 0; k < 6; ++k) EXPECT_NEAR(box[k], ref[f * kFrameValues + 600 + k], 1e-4f);
  }
  EXPECT_EQ(read(h, kPeptideAtoms), 0);
}

TEST_F(Netcdf, SkippingCountsByTheFrameDimension) {
  NcLayout l;
  l.cell = true;
  write_nc(dir.path("two.ncdf"), l);
  const std::int32_t h = open(dir.path("two.ncdf"));
  ASSERT_GT(h, 0) << out;
  EXPECT_EQ(f77_molfile_skip_next(h, 2, 1), 1);
  ASSERT_EQ(read(h, 2), 1);
  EXPECT_EQ(coords, (std::vector<float>{crafted(1, 0), crafted(1, 1), crafted(1, 2), crafted(1, 3),
                                        crafted(1, 4), crafted(1, 5)}));
  EXPECT_EQ(box, (std::array<float, 6>{10, 20, 30, 90, 90, 120}));
  EXPECT_EQ(f77_molfile_skip_next(h, 2, 5), 0);
  EXPECT_EQ(read(h, 2), 0);
}

TEST_F(Netcdf, FilesBreakingTheConventionAreRefused) {
  NcLayout other, no_coordinates, atom_last, planar;
  other.conventions = "CF-1.6";
  no_coordinates.coordinates = false;
  atom_last.atom_last = true;
  planar.spatial = 2;
  const std::pair<NcLayout, std::string> cases[] = {
      {other, "Error - netcdf file does not follow the AMBER conventions"},
      {no_coordinates, "Error - netcdf file has no coordinates (frame, atom, spatial)"},
      {atom_last, "Error - netcdf file has no coordinates (frame, atom, spatial)"},
      {planar, "Error - netcdf file lacks the frame, atom or spatial dimension"}};
  for (const auto& [layout, message] : cases) {
    write_nc(dir.path("bad.nc"), layout);
    EXPECT_EQ(open(dir.path("bad.nc")), -1) << message;
    EXPECT_EQ(out, "file type is nc\nAttempting to open netcdf file\n" + message + "\n");
    EXPECT_EQ(handcom()[0], 0);
  }
  const std::string bad_header =
      "file type is nc\nAttempting to open netcdf file\nError - bad header in netcdf file\n";
  EXPECT_EQ(open_bytes("text.nc", "CDF\1 but not really"), -1);
  EXPECT_EQ(out, bad_header);
  // A dimension count the file cannot hold is refused before the library allocates for it.
  std::string huge = read_file(data_path("peptide10_mdtraj.nc"));
  huge[12] = 0x7f;  // after "CDF\2", the record count and the dimension tag
  EXPECT_EQ(open_bytes("huge.nc", huge), -1);
  EXPECT_EQ(out, bad_header);
  EXPECT_EQ(open_bytes("hdf.nc", "\x89HDF\r\n\x1a\n"), -1);  // not walked: the library refuses it
  EXPECT_EQ(out,
            "file type is nc\nAttempting to open netcdf file\nError - can't open netcdf file\n");
}

TEST_F(Netcdf, RecordsMissingFromACutFileAreNotCounted) {
  const std::string bytes = read_file(data_path("peptide10_mdtraj.nc"));
  constexpr std::size_t kRecord = 2400 + 4 + 2 * 24;  // coordinates, time, cell lengths, angles
  const std::int32_t h = open_bytes("cut.nc", bytes.substr(0, bytes.size() - 4 * kRecord - 10));
  ASSERT_GT(h, 0) << out;
  // Four records are missing and a fifth is cut.
  EXPECT_EQ(f77_molfile_skip_next(h, kPeptideAtoms, 100), 5);
  EXPECT_EQ(read(h, kPeptideAtoms), 0);
  // A record count never filled in (a stream's all ones) or larger than the file holds.
  write_nc(dir.path("two.nc"), NcLayout{});
  std::string two = read_file(dir.path("two.nc"));
  const std::string counts[] = {"\xff\xff\xff\xff", std::string("\0\0\1\0", 4)};
  for (std::size_t k = 0; k < 2; ++k) {
    two.replace(4, 4, counts[k]);
    const std::int32_t c = open_bytes("count" + std::to_string(k) + ".nc", two);
    ASSERT_GT(c, 0) << out;
    EXPECT_EQ(f77_molfile_skip_next(c, 2, 100), 2);
  }
}

// The classic variants (CDF-1, CDF-2, CDF-5, read by kvtraj itself) and an HDF5-based file (read
// through the library), each with floats or doubles and an unlimited or a fixed frame dimension:
// the same frames.
TEST_F(Netcdf, EveryFormatTypeAndFrameDimensionReadsTheSame) {
  const std::pair<int, char> formats[] = {
      {NC_CLASSIC_MODEL, '\1'}, {NC_64BIT_OFFSET, '\2'}, {NC_64BIT_DATA, '\5'}, {NC_NETCDF4, 'F'}};
  int variant = 0;
  for (const auto& [format, magic] : formats) {
    for (const nc_type type : {NC_FLOAT, NC_DOUBLE}) {
      for (const bool fixed : {false, true}) {
        NcLayout l;
        l.format = format;
        l.type = type;
        l.fixed_frames = fixed;
        l.cell = true;
        const std::string path = dir.path("variant" + std::to_string(++variant) + ".nc");
        write_nc(path, l);
        ASSERT_EQ(read_file(path).substr(3, 1), std::string(1, magic)) << variant;
        const std::int32_t h = open(path);
        ASSERT_GT(h, 0) << variant << out;
        for (std::size_t f = 0; f < 2; ++f) {
          ASSERT_EQ(read(h, 2), 1) << variant;
          for (std::size_t k = 0; k < 6; ++k) EXPECT_EQ(coords[k], crafted(f, k)) << variant;
          EXPECT_EQ(box, (std::array<float, 6>{10, 20, 30, 90, 90, 120})) << variant;
        }
        EXPECT_EQ(read(h, 2), 0) << variant;
        std::int32_t status = -1;
        f77_molfile_close_read(h, status);
      }
    }
  }
}

}  // namespace
}  // namespace kvtraj

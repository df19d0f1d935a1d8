// AMBER NetCDF in the 64-bit offset classic format (which scipy's reader, and so MDAnalysis,
// can read): dimensions frame (unlimited), spatial, atom, and for boxed trajectories
// cell_spatial, cell_angular and label; coordinates as floats in Å, cell_lengths (Å) and
// cell_angles (degrees) as doubles, a time per frame, and the Conventions "AMBER" /
// ConventionVersion "1.0" attributes. The frames' own times are not known here: frame k (from
// 0) gets time k ps, the unit step the DCD writer records too.
//
// The NetCDF library writes by file name, so it writes into the temporary file of the
// ReplacingFile and closes it before the commit renames it onto the target.
#include <netcdf.h>

#include <array>

#include "fmtwriters/formats.hpp"

namespace kvtraj {
namespace {

class NetcdfWriter final : public TrajectoryWriter {
 public:
  NetcdfWriter(WriterSetup s, std::string data_path)
      : TrajectoryWriter(std::move(s.out), std::move(s.path), s.natoms, s.with_cell),
        data_path_(std::move(data_path)) {}
  ~NetcdfWriter() override {
    if (nc_ >= 0) nc_abort(nc_);
  }

 private:
  bool put_header(std::string_view title) override {
    if (!check(nc_create(data_path_.c_str(), NC_CLOBBER | NC_64BIT_OFFSET, &nc_))) return false;
    nc_set_fill(nc_, NC_NOFILL, nullptr);
    return define(title) && check(nc_enddef(nc_)) && put_labels();
  }

  bool put_frame(std::span<const float> coords, const UnitCell& cell) override {
    const auto frame = static_cast<std::size_t>(frames());
    const std::array<std::size_t, 3> start = {frame, 0, 0};
    const std::array<std::size_t, 3> count = {1, static_cast<std::size_t>(natoms()), 3};
    const auto time = static_cast<float>(frame);
    if (!check(nc_put_vara_float(nc_, coordinates_, start.data(), count.data(), coords.data())) ||
        !check(nc_put_var1_float(nc_, time_, start.data(), &time))) {
      return false;
    }
    if (!with_cell()) return true;
    const std::array<double, 3> lengths = {cell.a, cell.b, cell.c};
    const std::array<double, 3> angles = {cell.alpha, cell.beta, cell.gamma};
    const std::array<std::size_t, 2> cell_count = {1, 3};
    return check(nc_put_vara_double(nc_, lengths_, start.data(), cell_count.data(),
                                    lengths.data())) &&
           check(nc_put_vara_double(nc_, angles_, start.data(), cell_count.data(), angles.data()));
  }

  bool put_trailer() override {
    const int status = nc_close(nc_);
    nc_ = -1;
    return check(status);
  }

  bool check(int status) {
    return status == NC_NOERR || fail(path() + ": NetCDF: " + nc_strerror(status));
  }

  bool text(int var, const char* name, const std::string& value) {
    return check(nc_put_att_text(nc_, var, name, value.size(), value.data()));
  }

  bool dim(const char* name, std::size_t length, int& id) {
    return check(nc_def_dim(nc_, name, length, &id));
  }

  bool var(const char* name, nc_type type, std::initializer_list<int> dims, int& id) {
    return check(nc_def_var(nc_, name, type, static_cast<int>(dims.size()), dims.begin(), &id));
  }

  bool define(std::string_view title) {
    int frame = -1, spatial = -1, atom = -1;
    const bool ok =
        text(NC_GLOBAL, "title", std::string(title.empty() ? "Created by kvtraj" : title)) &&
        text(NC_GLOBAL, "application", "kvtraj") && text(NC_GLOBAL, "program", "kvt") &&
        text(NC_GLOBAL, "programVersion", KVTRAJ_VERSION) &&
        text(NC_GLOBAL, "Conventions", "AMBER") && text(NC_GLOBAL, "ConventionVersion", "1.0") &&
        dim("frame", NC_UNLIMITED, frame) && dim("spatial", 3, spatial) &&
        dim("atom", static_cast<std::size_t>(natoms()), atom) &&
        var("spatial", NC_CHAR, {spatial}, spatial_) && var("time", NC_FLOAT, {frame}, time_) &&
        text(time_, "units", "picosecond") &&
        var("coordinates", NC_FLOAT, {frame, atom, spatial}, coordinates_) &&
        text(coordinates_, "units", "angstrom");
    return ok && (!with_cell() || define_cell(frame));
  }

  bool define_cell(int frame) {
    int cell_spatial = -1, cell_angular = -1, label = -1;
    return dim("cell_spatial", 3, cell_spatial) && dim("cell_angular", 3, cell_angular) &&
           dim("label", 5, label) && var("cell_spatial", NC_CHAR, {cell_spatial}, cell_spatial_) &&
           var("cell_angular", NC_CHAR, {cell_angular, label}, cell_angular_) &&
           var("cell_lengths", NC_DOUBLE, {frame, cell_spatial}, lengths_) &&
           text(lengths_, "units", "angstrom") &&
           var("cell_angles", NC_DOUBLE, {frame, cell_angular}, angles_) &&
           text(angles_, "units", "degree");
  }

  bool put_labels() {
    if (!check(nc_put_var_text(nc_, spatial_, "xyz"))) return false;
    if (!with_cell()) return true;
    return check(nc_put_var_text(nc_, cell_spatial_, "abc")) &&
           check(nc_put_var_text(nc_, cell_angular_, "alphabeta gamma"));
  }

  std::string data_path_;
  int nc_ = -1;
  int spatial_ = -1, time_ = -1, coordinates_ = -1;
  int cell_spatial_ = -1, cell_angular_ = -1, lengths_ = -1, angles_ = -1;
};

}  // namespace

std::unique_ptr<TrajectoryWriter> make_netcdf_writer(WriterSetup setup) {
  std::string data_path = setup.out->data_path();
  return std::make_unique<NetcdfWriter>(std::move(setup), std::move(data_path));
}

}  // namespace kvtraj

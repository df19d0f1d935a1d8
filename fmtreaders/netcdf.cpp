// AMBER NetCDF trajectories, read through the NetCDF C library. The AMBER convention: global
// attribute Conventions naming "AMBER", dimensions frame, atom and spatial (= 3), a variable
// coordinates (frame, atom, spatial) in Å, and optionally cell_lengths (Å) and cell_angles
// (degrees), each (frame, 3). A file that breaks the convention is refused at open with one
// message; the library converts stored doubles to floats, so either type reads.
//
// The frame dimension gives the frame count, so skipping costs nothing and each read fetches one
// frame's hyperslab straight into the caller's array.
//
// Classic-format headers are walked first (netcdf_header.hpp): the library would allocate what
// their counts ask for, and it reads the missing part of a cut file as zeros, so the frame count
// is bounded by the records the file holds whole.
//
// The library is not thread-safe, even across files: every call the readers make into it holds
// one lock, so that readers of several files can run on several threads.
#include <netcdf.h>

#include <array>
#include <mutex>
#include <string>

#include "fmtreaders/netcdf_header.hpp"
#include "fmtreaders/readers.hpp"
#include "support/messages.hpp"

namespace kvtraj::readers {
namespace {

constexpr std::size_t kMaxAtoms = INT32_MAX / 3;

// Recursive: a reader refused while its open holds the lock closes its file under it.
std::recursive_mutex library_mutex;

// The text of global attribute `name`, empty when it is absent or not text (bounded: the
// length comes from the file).
std::string global_text(int nc, const char* name) {
  nc_type type = NC_NAT;
  std::size_t length = 0;
  if (nc_inq_att(nc, NC_GLOBAL, name, &type, &length) != NC_NOERR || type != NC_CHAR ||
      length > 4096) {
    return {};
  }
  std::string text(length, '\0');
  if (nc_get_att_text(nc, NC_GLOBAL, name, text.data()) != NC_NOERR) return {};
  return text;
}

// The length of dimension `name`, or nothing.
std::optional<std::size_t> dimension(int nc, const char* name) {
  int id = -1;
  std::size_t length = 0;
  if (nc_inq_dimid(nc, name, &id) != NC_NOERR || nc_inq_dimlen(nc, id, &length) != NC_NOERR) {
    return std::nullopt;
  }
  return length;
}

// The id of numeric variable `name` whose dimensions are exactly those named, or -1.
int variable(int nc, const char* name, std::initializer_list<const char*> dims) {
  int id = -1, ndims = 0;
  nc_type type = NC_NAT;
  if (nc_inq_varid(nc, name, &id) != NC_NOERR || nc_inq_varndims(nc, id, &ndims) != NC_NOERR ||
      nc_inq_vartype(nc, id, &type) != NC_NOERR) {
    return -1;
  }
  if (type != NC_FLOAT && type != NC_DOUBLE) return -1;
  if (static_cast<std::size_t>(ndims) != dims.size()) return -1;
  std::array<int, 3> have{};
  nc_inq_vardimid(nc, id, have.data());
  std::size_t k = 0;
  for (const char* dim : dims) {
    int want = -1;
    if (nc_inq_dimid(nc, dim, &want) != NC_NOERR || have[k++] != want) return -1;
  }
  return id;
}

class NetcdfReader final : public FixedAtomsReader {
 public:
  NetcdfReader(int nc, std::optional<std::uint64_t> whole_records) : nc_(nc), fit_(whole_records) {}
  ~NetcdfReader() override {
    const std::lock_guard lock(library_mutex);
    nc_close(nc_);
  }
  NetcdfReader(const NetcdfReader&) = delete;
  NetcdfReader& operator=(const NetcdfReader&) = delete;

  // Checks the convention; false, with the reason reported, when the file breaks it.
  bool check();
  int read(std::int32_t natoms, std::span<float> coords, std::span<float> box) override;
  std::int64_t skip(std::int32_t natoms, std::int64_t count) override;
  bool rewind() override {
    next_ = 0;
    return true;
  }
  bool has_box() const override { return lengths_ >= 0; }

 private:
  // Frames in the file: the frame dimension, bounded by what the file's size can hold.
  std::size_t frames() const {
    const std::size_t declared = dimension(nc_, "frame").value_or(0);
    return fit_ ? static_cast<std::size_t>(std::min<std::uint64_t>(declared, *fit_)) : declared;
  }

  int nc_ = -1;
  int coordinates_ = -1;
  int lengths_ = -1, angles_ = -1;
  std::optional<std::uint64_t> fit_;
  std::size_t next_ = 0;
};

bool NetcdfReader::check() {
  if (global_text(nc_, "Conventions").find("AMBER") == std::string::npos) {
    return refuse("Error - netcdf file does not follow the AMBER conventions");
  }
  const auto atoms = dimension(nc_, "atom");
  if (dimension(nc_, "spatial") != std::size_t{3} || !dimension(nc_, "frame") || !atoms) {
    return refuse("Error - netcdf file lacks the frame, atom or spatial dimension");
  }
  if (*atoms < 1 || *atoms > kMaxAtoms) return refuse("Error - bad atom count in netcdf file");
  coordinates_ = variable(nc_, "coordinates", {"frame", "atom", "spatial"});
  if (coordinates_ < 0) {
    return refuse("Error - netcdf file has no coordinates (frame, atom, spatial)");
  }
  if (dimension(nc_, "cell_spatial") == std::size_t{3} &&
      dimension(nc_, "cell_angular") == std::size_t{3}) {
    lengths_ = variable(nc_, "cell_lengths", {"frame", "cell_spatial"});
    angles_ = variable(nc_, "cell_angles", {"frame", "cell_angular"});
  }
  if (lengths_ < 0 || angles_ < 0) lengths_ = angles_ = -1;
  natoms_ = static_cast<std::int32_t>(*atoms);
  return true;
}

int NetcdfReader::read(std::int32_t natoms, std::span<float> coords, std::span<float> box) {
  if (!fits(natoms, coords, box, has_box())) return kIoBadData;
  const std::lock_guard lock(library_mutex);
  const auto n = static_cast<std::size_t>(natoms_);
  if (next_ >= frames()) return kIoEnd;
  const std::array<std::size_t, 3> start = {next_, 0, 0};
  const std::array<std::size_t, 3> count = {1, n, 3};
  if (nc_get_vara_float(nc_, coordinates_, start.data(), count.data(), coords.data()) != NC_NOERR) {
    return kIoBadData;
  }
  if (has_box()) {
    const std::array<std::size_t, 2> cell_count = {1, 3};
    if (nc_get_vara_float(nc_, lengths_, start.data(), cell_count.data(), box.data()) != NC_NOERR ||
        nc_get_vara_float(nc_, angles_, start.data(), cell_count.data(), box.data() + 3) !=
            NC_NOERR) {
      return kIoBadData;
    }
  }
  ++next_;
  return kIoOk;
}

std::int64_t NetcdfReader::skip(std::int32_t natoms, std::int64_t count) {
  if (!can_skip(natoms, count)) return 0;
  const std::lock_guard lock(library_mutex);
  const std::size_t left = frames() - std::min(next_, frames());
  const auto passed = std::min(left, static_cast<std::size_t>(count));
  next_ += passed;
  return static_cast<std::int64_t>(passed);
}

}  // namespace

std::unique_ptr<FrameReader> open_netcdf(const std::string& path, std::int32_t& file_natoms,
                                         std::int32_t& type) {
  auto file = BinaryFile::open(path);
  if (!file) {
    report_error("Error - can't open netcdf file");
    return nullptr;
  }
  ClassicLayout layout;
  std::optional<std::uint64_t> whole;
  switch (check_classic_header(*file, layout)) {
    case HeaderCheck::refused:
      report_error("Error - bad header in netcdf file");
      return nullptr;
    case HeaderCheck::layout:
      whole = whole_records(layout, file->remaining() + file->position());
      break;
    case HeaderCheck::not_classic:
      break;
  }
  const std::lock_guard lock(library_mutex);
  int nc = -1;
  if (nc_open(path.c_str(), NC_NOWRITE, &nc) != NC_NOERR) {
    report_error("Error - can't open netcdf file");
    return nullptr;
  }
  auto reader = std::make_unique<NetcdfReader>(nc, whole);
  if (!reader->check()) return nullptr;
  file_natoms = reader->file_atoms();
  type = kTypeNetcdf;
  return reader;
}

}  // namespace kvtraj::readers

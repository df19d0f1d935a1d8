// AMBER NetCDF trajectories in the HDF5-based format (NetCDF-4), read through the NetCDF C
// library; classic-format files never come here (netcdf.cpp). The library describes the file in
// the layout that the classic reader parses itself, so that both check the convention the same
// way; its type codes for float and double are the classic ones.
//
// The library is loaded when the first such file is opened, not linked: linking it would load
// it and the dozens of libraries it needs (HDF5, curl, TLS, ...) into every process, about 10 ms
// at every start of every program, for a format few inputs are in.
//
// The library is not thread-safe, even across files: every call the readers make into it holds
// one lock, so that readers of several files can run on several threads.
#include <dlfcn.h>
#include <netcdf.h>  // the library's types and constants; its functions are looked up

#include <array>
#include <mutex>
#include <string>

#include "fmtreaders/netcdf_layout.hpp"
#include "fmtreaders/readers.hpp"

namespace kvtraj::readers {
namespace {

std::mutex library_mutex;

// The library's functions that the reader calls.
struct Library {
  decltype(&nc_open) open = nullptr;
  decltype(&nc_close) close = nullptr;
  decltype(&nc_inq) inq = nullptr;
  decltype(&nc_inq_dim) inq_dim = nullptr;
  decltype(&nc_inq_varndims) inq_varndims = nullptr;
  decltype(&nc_inq_var) inq_var = nullptr;
  decltype(&nc_inq_att) inq_att = nullptr;
  decltype(&nc_get_att_text) get_att_text = nullptr;
  decltype(&nc_get_vara_float) get_vara_float = nullptr;
};

template <class Function>
bool look_up(void* handle, const char* name, Function& f) {
  f = reinterpret_cast<Function>(dlsym(handle, name));
  return f != nullptr;
}

// The library, loaded on the first call (with library_mutex held); null when it cannot be.
const Library* library() {
  static const Library* const loaded = []() -> const Library* {
    void* handle = dlopen(KVTRAJ_NETCDF_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (!handle) return nullptr;
    static Library l;
    const bool all = look_up(handle, "nc_open", l.open) && look_up(handle, "nc_close", l.close) &&
                     look_up(handle, "nc_inq", l.inq) && look_up(handle, "nc_inq_dim", l.inq_dim) &&
                     look_up(handle, "nc_inq_varndims", l.inq_varndims) &&
                     look_up(handle, "nc_inq_var", l.inq_var) &&
                     look_up(handle, "nc_inq_att", l.inq_att) &&
                     look_up(handle, "nc_get_att_text", l.get_att_text) &&
                     look_up(handle, "nc_get_vara_float", l.get_vara_float);
    return all ? &l : nullptr;
  }();
  return loaded;
}

// The text of global attribute `name`, empty when it is absent or not text (bounded: the
// length comes from the file).
std::string global_text(const Library& lib, int nc, const char* name) {
  nc_type type = NC_NAT;
  std::size_t length = 0;
  if (lib.inq_att(nc, NC_GLOBAL, name, &type, &length) != NC_NOERR || type != NC_CHAR ||
      length > 4096) {
    return {};
  }
  std::string text(length, '\0');
  if (lib.get_att_text(nc, NC_GLOBAL, name, text.data()) != NC_NOERR) return {};
  return text;
}

// The root group's dimensions and variables as the library gives them; false when it fails.
bool describe(const Library& lib, int nc, NcLayout& l) {
  int ndims = 0, nvars = 0, unlimited = -1;
  if (lib.inq(nc, &ndims, &nvars, nullptr, &unlimited) != NC_NOERR) return false;
  std::array<char, NC_MAX_NAME + 1> name{};
  for (int d = 0; d < ndims; ++d) {
    std::size_t length = 0;
    if (lib.inq_dim(nc, d, name.data(), &length) != NC_NOERR) return false;
    l.dims.push_back({name.data(), length, d == unlimited});
  }
  for (int v = 0; v < nvars; ++v) {
    nc_type type = NC_NAT;
    int rank = 0;
    if (lib.inq_varndims(nc, v, &rank) != NC_NOERR || rank < 0) return false;
    std::vector<int> dims(static_cast<std::size_t>(rank));
    if (lib.inq_var(nc, v, name.data(), &type, nullptr, dims.data(), nullptr) != NC_NOERR) {
      return false;
    }
    NcVariable var{name.data(), static_cast<std::uint32_t>(type), {}, 0};
    for (int d : dims) {
      if (d < 0 || d >= ndims) return false;
      var.dims.push_back(static_cast<std::uint64_t>(d));
    }
    l.vars.push_back(std::move(var));
  }
  l.conventions = global_text(lib, nc, "Conventions");
  return true;
}

class LibraryReader final : public FixedAtomsReader {
 public:
  LibraryReader(const Library& lib, int nc, const AmberVariables& amber, std::size_t frames)
      : lib_(lib),
        nc_(nc),
        coordinates_(static_cast<int>(amber.coordinates)),
        lengths_(amber.lengths ? static_cast<int>(*amber.lengths) : -1),
        angles_(amber.angles ? static_cast<int>(*amber.angles) : -1),
        frames_(frames) {
    natoms_ = amber.natoms;
  }
  ~LibraryReader() override {
    const std::lock_guard lock(library_mutex);
    lib_.close(nc_);
  }
  LibraryReader(const LibraryReader&) = delete;
  LibraryReader& operator=(const LibraryReader&) = delete;

  int read(std::int32_t natoms, std::span<float> coords, std::span<float> box) override;
  std::int64_t skip(std::int32_t natoms, std::int64_t count) override {
    if (!can_skip(natoms, count)) return 0;
    const auto passed = std::min(frames_ - next_, static_cast<std::size_t>(count));
    next_ += passed;
    return static_cast<std::int64_t>(passed);
  }
  bool rewind() override {
    next_ = 0;
    return true;
  }
  bool has_box() const override { return lengths_ >= 0; }

 private:
  const Library& lib_;
  int nc_ = -1;
  int coordinates_ = -1;
  int lengths_ = -1, angles_ = -1;
  std::size_t frames_ = 0;
  std::size_t next_ = 0;
};

int LibraryReader::read(std::int32_t natoms, std::span<float> coords, std::span<float> box) {
  if (!fits(natoms, coords, box, has_box())) return kIoBadData;
  if (next_ >= frames_) return kIoEnd;
  const std::lock_guard lock(library_mutex);
  const std::array<std::size_t, 3> start = {next_, 0, 0};
  const std::array<std::size_t, 3> count = {1, static_cast<std::size_t>(natoms_), 3};
  if (lib_.get_vara_float(nc_, coordinates_, start.data(), count.data(), coords.data()) !=
      NC_NOERR) {
    return kIoBadData;
  }
  if (has_box()) {
    const std::array<std::size_t, 2> cell_count = {1, 3};
    if (lib_.get_vara_float(nc_, lengths_, start.data(), cell_count.data(), box.data()) !=
            NC_NOERR ||
        lib_.get_vara_float(nc_, angles_, start.data(), cell_count.data(), box.data() + 3) !=
            NC_NOERR) {
      return kIoBadData;
    }
  }
  ++next_;
  return kIoOk;
}

}  // namespace

std::unique_ptr<FrameReader> open_netcdf_library(const std::string& path, std::int32_t& file_natoms,
                                                 std::int32_t& type) {
  const std::lock_guard lock(library_mutex);
  const Library* loaded = library();
  if (!loaded) {
    report_error(
        "Error - netcdf file is not in the classic format, and the NetCDF library that "
        "reads others (" KVTRAJ_NETCDF_LIBRARY ") could not be loaded");
    return nullptr;
  }
  const Library& lib = *loaded;
  int nc = -1;
  NcLayout layout;
  if (lib.open(path.c_str(), NC_NOWRITE, &nc) != NC_NOERR) {
    report_error("Error - can't open netcdf file");
    return nullptr;
  }
  if (!describe(lib, nc, layout)) {
    lib.close(nc);
    report_error("Error - bad header in netcdf file");
    return nullptr;
  }
  const auto amber = amber_variables(layout);
  if (!amber) {
    lib.close(nc);
    return nullptr;
  }
  const std::size_t frames = layout.dims[layout.vars[amber->coordinates].dims[0]].length;
  auto reader = std::make_unique<LibraryReader>(lib, nc, *amber, frames);
  file_natoms = reader->file_atoms();
  type = kTypeNetcdf;
  return reader;
}

}  // namespace kvtraj::readers

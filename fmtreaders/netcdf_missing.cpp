// The NetCDF-4 opener of a build without the NetCDF C library: only classic-format files, which
// kvtraj reads itself, can be read.
#include "fmtreaders/readers.hpp"
#include "support/messages.hpp"

namespace kvtraj::readers {

std::unique_ptr<FrameReader> open_netcdf_library(const std::string&, std::int32_t&, std::int32_t&) {
  report_error(
      "Error - netcdf file is not in the classic format, and kvtraj was built without the NetCDF "
      "library that reads others");
  return nullptr;
}

}  // namespace kvtraj::readers

// The NetCDF opener of a build without the NetCDF C library: every NetCDF file is refused.
#include "fmtreaders/readers.hpp"
#include "support/messages.hpp"

namespace kvtraj::readers {

std::unique_ptr<FrameReader> open_netcdf(const std::string&, std::int32_t&, std::int32_t&) {
  report_error("Error - netcdf files cannot be read: kvtraj was built without NetCDF");
  return nullptr;
}

}  // namespace kvtraj::readers

// The NetCDF writer of a build without the NetCDF C library: there is none.
#include "fmtwriters/formats.hpp"

namespace kvtraj {

std::unique_ptr<TrajectoryWriter> make_netcdf_writer(WriterSetup) {
  return nullptr;
}

}  // namespace kvtraj

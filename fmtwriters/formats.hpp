// The writer of each format, behind TrajectoryWriter::create.
#pragma once

#include "fmtwriters/fmtwriters.hpp"
#include "support/files.hpp"

namespace kvtraj {

struct WriterSetup {
  std::unique_ptr<ReplacingFile> out;
  std::string path;
  std::int32_t natoms = 0;
  bool with_cell = false;
  float precision = 0.0f;  // XTC grid steps per nm; 0 for the default
};

std::unique_ptr<TrajectoryWriter> make_dcd_writer(WriterSetup setup);
std::unique_ptr<TrajectoryWriter> make_binpos_writer(WriterSetup setup);
std::unique_ptr<TrajectoryWriter> make_amber_writer(WriterSetup setup);
std::unique_ptr<TrajectoryWriter> make_xtc_writer(WriterSetup setup);
// Null in a build without the NetCDF library.
std::unique_ptr<TrajectoryWriter> make_netcdf_writer(WriterSetup setup);

}  // namespace kvtraj

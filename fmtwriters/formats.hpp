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
  float precision = 0.0f;             // XTC grid steps per nm; 0 for the default
  std::span<const AtomRecord> atoms;  // natoms records for PDB and GRO, read while constructing
};

// Bytes a text format gathers before it writes them: a frame of many atoms goes out in pieces.
inline constexpr std::size_t kTextChunk = std::size_t{1} << 20;

// A title up to its first line break: text formats give it one line.
inline std::string_view first_line(std::string_view title) {
  return title.substr(0, title.find_first_of("\r\n"));
}

// `value` as the fixed-width integer fields of PDB and GRO hold it: unchanged when it has at
// most `digits` digits (negative values one less, for the sign), otherwise its last `digits`
// digits, as MDAnalysis, MDTraj and GROMACS wrap serials and residue numbers.
std::int64_t wrapped(std::int64_t value, int digits);

std::unique_ptr<TrajectoryWriter> make_dcd_writer(WriterSetup setup);
std::unique_ptr<TrajectoryWriter> make_binpos_writer(WriterSetup setup);
std::unique_ptr<TrajectoryWriter> make_amber_writer(WriterSetup setup);
std::unique_ptr<TrajectoryWriter> make_xtc_writer(WriterSetup setup);
std::unique_ptr<TrajectoryWriter> make_trr_writer(WriterSetup setup);
std::unique_ptr<TrajectoryWriter> make_netcdf_writer(WriterSetup setup);
std::unique_ptr<TrajectoryWriter> make_pdb_writer(WriterSetup setup);
std::unique_ptr<TrajectoryWriter> make_gro_writer(WriterSetup setup);

}  // namespace kvtraj

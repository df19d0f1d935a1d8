// Trajectory writers: DCD (4-byte record markers, a unit-cell record per frame when the
// trajectory has a box), binpos (with six box reals after each frame when it has one), AMBER
// formatted coordinates in the (10f8.3) layout, with a box line per frame for crdbox, GROMACS
// XTC (compressed on a grid of a chosen precision, the box as three vectors), GROMACS TRR
// (single precision, coordinates and the box when there is one), AMBER NetCDF (classic
// format with 64-bit offsets), multi-model PDB and GROMACS GRO. PDB and GRO name every
// atom, so they need the atoms' records (support/atom_record.hpp).
//
// Writers stream frame by frame and write into a temporary file beside the target, which takes
// the target's name only when `finish` succeeds: a failed or abandoned write never leaves a
// partial file in place of a good one. A failure is reported once, through the message sink
// (support/messages.hpp), and the step that failed returns a null writer or false. Values that a
// fixed-column field cannot hold (AMBER, PDB and GRO coordinates: 8 columns, 3 decimals) are an
// error, never a corrupt file.
//
// Boxes travel as a `UnitCell` (support/unit_cell.hpp). Each format stores a cell its
// own way: DCD as MDTraj and CHARMM write it (a, cos γ, b, cos β, cos α, c), AMBER and binpos as
// a, b, c followed by the angles.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "support/atom_record.hpp"
#include "support/files.hpp"
#include "support/unit_cell.hpp"

#pragma GCC visibility push(default)  // the installed interface, exported by shared builds

namespace kvtraj {

enum class TrajectoryFormat { dcd, binpos, crd, crdbox, xtc, trr, netcdf, pdb, gro };

// The format named by a path's extension: ".dcd", ".binpos", ".crd" (".mdcrd"), ".crdbox",
// ".xtc", ".trr", ".nc" (".ncdf"), ".pdb", ".gro".
std::optional<TrajectoryFormat> format_from_extension(std::string_view path);

class TrajectoryWriter {
 public:
  // Null, with the reason reported, when the output cannot be created. `precision` is the grid
  // of XTC output in steps per nm (0: 1000, as GROMACS); other formats ignore it. `atoms`: one
  // record per atom, which PDB and GRO need and other formats ignore.
  static std::unique_ptr<TrajectoryWriter> create(const std::string& path, TrajectoryFormat format,
                                                  std::int32_t natoms, bool with_cell,
                                                  std::string_view title, float precision = 0.0f,
                                                  std::span<const AtomRecord> atoms = {});
  virtual ~TrajectoryWriter() = default;
  TrajectoryWriter(const TrajectoryWriter&) = delete;
  TrajectoryWriter& operator=(const TrajectoryWriter&) = delete;

  // Appends one frame of 3 * natoms coordinates; `cell` is used when the writer has cells.
  // False, with the reason reported, when the frame cannot be written; the writer is then
  // unusable and its later calls fail without a further report.
  bool write_frame(std::span<const float> coords, const UnitCell& cell = {});
  // Completes the file and gives it the target's name.
  bool finish();
  std::int64_t frames() const { return frames_; }

 protected:
  TrajectoryWriter(std::unique_ptr<ReplacingFile> out, std::string path, std::int32_t natoms,
                   bool with_cell);
  virtual bool put_header(std::string_view title) = 0;
  virtual bool put_frame(std::span<const float> coords, const UnitCell& cell) = 0;
  // Called once before the file is committed (e.g. to record the frame count in the header).
  virtual bool put_trailer() { return true; }

  bool put(const void* data, std::size_t bytes);
  // put() of the text gathered in `text`, which is then emptied.
  bool put_text(std::string& text);
  // Reports `message` and makes the writer unusable; false, for the caller to return.
  bool fail(const std::string& message);
  // fail() for a value of the frame being written that does not fit `field` ("8 columns of a PDB
  // coordinate field").
  bool fail_unfit(double value, std::string_view field);
  std::FILE* file() const { return out_->get(); }
  const std::string& path() const { return path_; }
  std::int32_t natoms() const { return natoms_; }
  bool with_cell() const { return with_cell_; }

 private:
  std::unique_ptr<ReplacingFile> out_;
  std::string path_;
  std::int32_t natoms_ = 0;
  bool with_cell_ = false;
  bool failed_ = false;
  std::int64_t frames_ = 0;
};

// What a GROMACS TRR frame records besides its coordinates: gmx covar keeps each eigenvector's
// number and eigenvalue in the step and time of its frame, and flags of the fit in lambda.
struct TrrStamp {
  std::int64_t step = 0;
  float time = 0.0f;  // ps
  float lambda = 0.0f;
};

// A TRR file (single precision) whose frames carry the caller's stamps and a box of zeros, the
// layout of gmx covar's eigenvector files. Values are written as given (GROMACS's units: nm for
// structures; eigenvectors have none). Complete only once `finish` succeeds; failures are
// reported through the message sink and return false (null from create).
class StampedTrr {
 public:
  static std::unique_ptr<StampedTrr> create(const std::string& path, std::int32_t natoms);
  bool write(std::span<const float> values, const TrrStamp& stamp);
  bool finish();

 private:
  StampedTrr(std::unique_ptr<ReplacingFile> out, std::string path, std::int32_t natoms)
      : out_(std::move(out)), path_(std::move(path)), natoms_(natoms) {}
  std::unique_ptr<ReplacingFile> out_;
  std::string path_;
  std::int32_t natoms_ = 0;
};

// Size in bytes of the DCD file this module writes for `nframes` frames of `natoms` atoms.
std::uint64_t dcd_file_size(std::int64_t natoms, std::int64_t nframes, bool with_cell);

}  // namespace kvtraj

#pragma GCC visibility pop

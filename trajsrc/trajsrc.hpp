// The trajectory source: a trajectory opened by a name that may carry a frame selection
// ("run.dcd(10:50:5)"), its format found by extension or, for AMBER files of other names, by a
// distance test, its frames counted; snapshots delivered by number within the selection; and
// albums, list files whose trajectories read as one sequence of snapshots. All file work goes
// through the reader handles of fmtreaders (f77_molfile_init must have run).
//
// Threads: every call here uses the process-wide handle table, whose opens and closes take a
// lock: different trajectories may be read at once, each on one thread at a time.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#pragma GCC visibility push(default)  // the installed interface, exported by shared builds

namespace kvtraj {

// One open trajectory. Copied by callers; `unit` names its open reader handle.
struct trajectory {
  std::string name;         // file name without the selection (at most 160 characters)
  std::string text;         // blank (80 characters): not used by these operations
  std::int32_t unit = 0;    // reader handle; 0 when the file is not open
  std::int32_t status = 0;  // 0; −2 after a request beyond the selection; 1 after a failed read
  std::int32_t natoms = 0;  // atoms per snapshot
  std::int32_t nsnaps = 0;  // selected snapshots
  std::int32_t first = 1;   // frame selection
  std::int32_t last = 0;
  std::int32_t stride = 1;
  std::int32_t next = 0;  // number of the next frame the reader will deliver
  std::int32_t spare = 0;
  std::array<float, 6> box{};  // box of the last frame read (0 before any)
  std::string type;            // "auto", "crd" or "crdbox": the file type handed to the readers
};

// Reads a frame selection "f", "f:l" or "f:l:s" (each number may be left out). Defaults first 1,
// last 0 (up to the last frame), stride 1. error is 0; the 1-based position of the first
// character that is not a digit, ":" or blank; −2 for three or more ":"; −3 for a first frame or
// stride of 0, a number too large for 32 bits, or a last frame before the first.
void xparse(std::string_view selection, std::int32_t& first, std::int32_t& last,
            std::int32_t& stride, std::int32_t& error);

// Opens `name` (file name, optionally followed by a selection in parentheses) and counts its
// frames. natoms in is the caller's atom count (0 or less when unknown), natoms out the larger
// of it and the file's. The file stays open after its last frame. Fatal conditions (syntax
// error, missing file, unknown format, selection beyond the file) end the program with their
// message on standard output.
trajectory xopen(std::string_view name, std::int32_t& natoms);

// Delivers snapshot i (1-based within the selection) into coords (3 × natoms values) and the
// frame's box into traj.box. traj.status: 0 on success, −2 for i outside 1..nsnaps (nothing
// read), 1 when the frame could not be read (coords then hold no valid snapshot). Going
// backwards reopens the file; frames before the wanted one are passed over without decoding
// where the format allows.
void xsnap(trajectory& traj, std::span<float> coords, std::int32_t i);

// Closes the reader handle (if open) and sets status 0.
void xclose(trajectory& traj);

inline constexpr std::size_t kAlbumFiles = 500;

// Several trajectory files read as one sequence of snapshots. Only the active file holds a
// reader handle; the stored records of the others are closed (unit 0) and reopen when used.
struct album {
  std::string name;          // album list file name
  std::string text;          // blank
  std::int32_t unit = 0;     // unit given by the caller for the list
  std::int32_t status = 0;   // 0, the list's open error (errno), or the active file's status
  std::int32_t natoms = 0;   // atoms per snapshot
  std::int32_t total = 0;    // snapshots of all files
  std::int32_t current = 0;  // number of the file in use (1 after opening)
  std::vector<trajectory> files = std::vector<trajectory>(kAlbumFiles);  // files[k - 1]: file k
  std::array<std::int32_t, kAlbumFiles> cumulative{};  // cumulative[k - 1]: snapshots of 1..k
  trajectory active;                                   // working copy of the current file
};

// Opens every trajectory listed in `listname` (one name per line, selections allowed, at
// most 500) and counts their snapshots. natoms in/out as for xopen, over all files.
album xalbopen(std::int32_t unit, std::string_view listname, std::int32_t& natoms);

// Delivers snapshot i (1-based over the whole album) into coords; alb.status as for xsnap.
// Switching to another file closes the active one.
void xalbsnap(album& alb, std::span<float> coords, std::int32_t i);

}  // namespace kvtraj

#pragma GCC visibility pop

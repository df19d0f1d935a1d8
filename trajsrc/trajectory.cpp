// xopen and xclose: a trajectory by name, with its selection, format and frame count.
#include <algorithm>

#include "fmtreaders/fmtreaders.hpp"
#include "support/fatal.hpp"
#include "support/files.hpp"
#include "support/fixed_text.hpp"
#include "support/messages.hpp"
#include "trajsrc/amber_probe.hpp"
#include "trajsrc/close_guard.hpp"

namespace kvtraj {
namespace {

// Splits "file(selection)" into the record's name and selection; a bad selection is fatal.
void read_name(std::string_view full, trajectory& traj) {
  const std::size_t open = full.find('(');
  traj.name = std::string(trim_right(full.substr(0, open)));
  if (open == std::string_view::npos) return;
  const std::size_t close = full.find(')', open);
  const std::string_view inside =
      full.substr(open + 1, close == std::string_view::npos ? close : close - open - 1);
  std::int32_t error = 0;
  xparse(inside, traj.first, traj.last, traj.stride, error);
  if (error != 0) die(stdout, std::string(full) + ": syntax error");
}

// Frames left in the open file, passed over without decoding where the format allows.
std::int64_t frames_left(const trajectory& traj) {
  return f77_molfile_skip_next(traj.unit, traj.natoms, INT64_MAX);
}

// Cuts the selection to the file's `count` frames and sets nsnaps and next.
void fit_selection(trajectory& traj, std::int32_t count) {
  if (traj.last == 0) traj.last = count;
  if (count < traj.last) {
    traj.last = count;
    warn("Warning: " + traj.name + " only contains " + std::to_string(count) + " frames");
  }
  if (count < traj.first) {
    die(stdout, "Error: " + traj.name + " only contains " + std::to_string(count) + " frames");
  }
  traj.nsnaps = (traj.last - traj.first) / traj.stride + 1;
  traj.next = count + 1;
}

}  // namespace

trajectory xopen(std::string_view name, std::int32_t& natoms) {
  trajectory traj;
  const std::string_view full = trim_right(name);
  read_name(full, traj);
  traj.type = "auto";
  if (!file_exists(traj.name)) die(stdout, traj.name + ": no such file?");
  std::int32_t found = natoms;
  trajsrc::CloseGuard guard(traj);
  f77_molfile_open_read(traj.unit, found, traj.name, traj.type);
  if (found == 0 && natoms > 0) found = natoms;
  traj.natoms = found;
  std::int64_t count = 0;
  if (traj.unit < 0) count = trajsrc::open_amber_by_test(traj);
  count += frames_left(traj);
  fit_selection(traj, static_cast<std::int32_t>(std::min<std::int64_t>(count, INT32_MAX - 1)));
  natoms = std::max(natoms, traj.natoms);
  guard.release();
  return traj;
}

void xclose(trajectory& traj) {
  f77_molfile_close_read(traj.unit, traj.status);
  traj.unit = 0;
}

}  // namespace kvtraj

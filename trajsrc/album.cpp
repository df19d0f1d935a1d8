// Albums: the trajectories of a list file read as one sequence of snapshots. Only the active
// file keeps a reader handle: every other file is closed once its frames are counted and is
// reopened (by xsnap) when a request reaches it, so that an album may list more files than
// there are reader handles.
#include <algorithm>
#include <cerrno>

#include "fmtreaders/fmtreaders.hpp"
#include "support/fatal.hpp"
#include "support/files.hpp"
#include "support/fixed_text.hpp"
#include "support/fortran_input.hpp"
#include "support/messages.hpp"
#include "trajsrc/close_guard.hpp"
#include "trajsrc/trajsrc.hpp"

namespace kvtraj {
namespace {

// Adds one opened file as file k + 1 of the album.
void add_file(album& alb, std::size_t k, trajectory traj) {
  const std::int64_t before = k == 0 ? 0 : alb.cumulative[k - 1];
  const std::int64_t total = before + traj.nsnaps;
  if (total > INT32_MAX) die(stdout, "Error - too many snapshots in album " + alb.name);
  alb.cumulative[k] = static_cast<std::int32_t>(total);
  alb.total = static_cast<std::int32_t>(total);
  if (k > 0) xclose(traj);  // file 1 stays open as the active file
  alb.files[k] = std::move(traj);
}

}  // namespace

album xalbopen(std::int32_t unit, std::string_view listname, std::int32_t& natoms) {
  album alb;
  alb.name = std::string(trim_right(listname));
  alb.unit = unit;
  alb.natoms = natoms;
  if (!file_exists(alb.name)) die(stdout, alb.name + ": no such file?");
  auto records = RecordReader::open(alb.name);
  if (!records) {
    alb.status = errno != 0 ? errno : 1;
    return alb;
  }
  FormattedReader list(*records);
  std::string line;
  std::size_t k = 0;
  trajsrc::CloseGuard first_file(alb.files[0]);  // open until the album is complete
  while (list.line(kNameLength, line) == kIoOk) {
    if (k == kAlbumFiles) die(stdout, "Error - maximum number of 500 files in an album");
    trajectory traj = xopen(line, natoms);
    if (traj.status != 0) {
      report_error("Error with file " + traj.name);
      alb.status = traj.status;
      first_file.release();
      return alb;
    }
    add_file(alb, k++, std::move(traj));
  }
  first_file.release();
  alb.current = 1;
  alb.active = alb.files[0];
  alb.files[0].unit = 0;  // the handle belongs to the active copy
  alb.natoms = natoms;
  alb.status = alb.active.status;
  return alb;
}

void xalbsnap(album& alb, std::span<float> coords, std::int32_t i) {
  if (i < 1 || i > alb.total) {
    alb.status = -2;
    return;
  }
  // Entries after the last file are 0, so the first entry reaching i is the file's.
  const auto found = std::find_if(alb.cumulative.begin(), alb.cumulative.end(),
                                  [i](std::int32_t c) { return c >= i; });
  const auto d = static_cast<std::int32_t>(found - alb.cumulative.begin()) + 1;
  alb.status = 0;
  if (d != alb.current) {
    xclose(alb.active);
    alb.current = d;
    alb.active = alb.files[static_cast<std::size_t>(d - 1)];
    alb.status = alb.active.status;
  }
  if (alb.status != 0) return;
  const std::int32_t local = d == 1 ? i : i - alb.cumulative[static_cast<std::size_t>(d - 2)];
  xsnap(alb.active, coords, local);
  alb.status = alb.active.status;
}

}  // namespace kvtraj

// xsnap: one snapshot of an open trajectory by its number within the selection.
#include <climits>

#include "fmtreaders/fmtreaders.hpp"
#include "trajsrc/trajsrc.hpp"

namespace kvtraj {
namespace {

constexpr std::int32_t kReadFailed = 1;

// Closes and reopens the file so that its next frame is frame 1; false when it will not open.
bool reopen(trajectory& traj) {
  std::int32_t ignored = 0;
  if (traj.unit > 0) f77_molfile_close_read(traj.unit, ignored);
  std::int32_t natoms = traj.natoms;  // the AMBER opener answers 0: the record keeps its count
  f77_molfile_open_read(traj.unit, natoms, traj.name, traj.type);
  traj.next = 1;
  return traj.unit > 0;
}

void fail(trajectory& traj) {
  traj.status = kReadFailed;
  traj.next = INT_MAX;  // the read position is lost: the next request reopens the file
}

}  // namespace

void xsnap(trajectory& traj, std::span<float> coords, std::int32_t i) {
  if (i < 1 || i > traj.nsnaps) {
    traj.status = -2;
    return;
  }
  const std::int64_t wanted =
      traj.first + static_cast<std::int64_t>(i - 1) * static_cast<std::int64_t>(traj.stride);
  if ((wanted < traj.next || traj.unit <= 0) && !reopen(traj)) return fail(traj);
  const std::int64_t gap = wanted - traj.next;
  if (f77_molfile_skip_next(traj.unit, traj.natoms, gap) != gap) return fail(traj);
  std::int32_t ok = 0;
  f77_molfile_read_next(traj.unit, traj.natoms, coords, traj.box, ok);
  if (ok != 1) return fail(traj);
  traj.next = static_cast<std::int32_t>(wanted + 1);
  traj.status = 0;
}

}  // namespace kvtraj

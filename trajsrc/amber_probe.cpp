#include "trajsrc/amber_probe.hpp"

#include <cmath>
#include <vector>

#include "fmtreaders/fmtreaders.hpp"
#include "support/fatal.hpp"
#include "support/files.hpp"
#include "support/messages.hpp"

namespace kvtraj::trajsrc {
namespace {

constexpr float kDistanceTolerance = 0.2f;

float squared_distance_1_2(const std::vector<float>& c) {
  const float dx = c[0] - c[3], dy = c[1] - c[4], dz = c[2] - c[5];
  return dx * dx + dy * dy + dz * dz;
}

struct Probe {
  std::int32_t frames = 0;  // frames read: 0, 1 or 2
  bool agree = false;       // the 1-2 distance is the same in both frames (or cannot be tested)
};

void open_as(trajectory& traj, const char* type) {
  traj.type = type;
  std::int32_t n = traj.natoms;
  f77_molfile_open_read(traj.unit, n, traj.name, traj.type);
}

// Reads up to two frames of the file just opened. A file of one frame, or of one atom, offers
// nothing to compare and is taken as it reads.
Probe probe(trajectory& traj, std::vector<float>& a, std::vector<float>& b) {
  Probe p;
  std::int32_t ok = 0;
  f77_molfile_read_next(traj.unit, traj.natoms, a, traj.box, ok);
  if (ok != 1) return p;
  p.frames = 1;
  f77_molfile_read_next(traj.unit, traj.natoms, b, traj.box, ok);
  if (ok != 1 || traj.natoms < 2) {
    p.frames += ok == 1;
    p.agree = true;
    return p;
  }
  p.frames = 2;
  p.agree = std::fabs(squared_distance_1_2(a) - squared_distance_1_2(b)) <= kDistanceTolerance;
  return p;
}

// A frame of natoms atoms takes at least 3 × natoms / 10 lines, each at least one byte.
bool frame_fits(const std::string& path, std::int32_t natoms) {
  const auto size = file_size(path);
  return !size || *size >= 3 * static_cast<std::uint64_t>(natoms) / 10;
}

}  // namespace

std::int32_t open_amber_by_test(trajectory& traj) {
  if (traj.natoms < 1) die(stdout, "Error - need to know number of atoms per snapshot");
  inform("Trying AMBER...");
  open_as(traj, "crd");
  // A file too small for one frame fails as an unreadable one does, without the frame arrays
  // that an absurd atom count would ask for.
  if (!frame_fits(traj.name, traj.natoms)) die(stdout, "Problem with trajectory file " + traj.name);
  std::vector<float> a = allocate_or_die<float>(3 * static_cast<std::size_t>(traj.natoms));
  std::vector<float> b = allocate_or_die<float>(a.size());
  Probe p = probe(traj, a, b);
  if (p.frames == 0) die(stdout, "Problem with trajectory file " + traj.name);
  if (p.agree) return p.frames;
  xclose(traj);
  open_as(traj, "crdbox");
  p = probe(traj, a, b);
  if (p.frames == 0 || !p.agree) die(stdout, "Error - unrecognised format file " + traj.name);
  return p.frames;
}

}  // namespace kvtraj::trajsrc

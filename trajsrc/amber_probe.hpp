// Inside trajsrc: telling AMBER crd from crdbox for a file whose name does not say which.
#pragma once

#include <cstdint>
#include <string>

#include "trajsrc/trajsrc.hpp"

namespace kvtraj::trajsrc {

// Opens `traj.name` as AMBER crd, and as crdbox when the distance between atoms 1 and 2 does
// not survive from frame 1 to frame 2 as crd (a box line read as coordinates shifts the atoms).
// Sets traj.unit and traj.type and returns the frames read by the test (1 or 2); the file then
// stands after them. Fatal when the file cannot be read as either.
std::int32_t open_amber_by_test(trajectory& traj);

}  // namespace kvtraj::trajsrc

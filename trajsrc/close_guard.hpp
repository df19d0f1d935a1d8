// Inside trajsrc: the reader handle of a trajectory still being opened, closed again when a fatal
// condition unwinds the opening (a throwing fatal action), so that a caller who catches it does
// not lose a handle of the process-wide table for every failed open.
#pragma once

#include "trajsrc/trajsrc.hpp"

namespace kvtraj::trajsrc {

class CloseGuard {
 public:
  explicit CloseGuard(trajectory& traj) : traj_(traj) {}
  ~CloseGuard() {
    if (armed_) xclose(traj_);
  }
  CloseGuard(const CloseGuard&) = delete;
  CloseGuard& operator=(const CloseGuard&) = delete;
  // The opening succeeded: the handle stays open.
  void release() { armed_ = false; }

 private:
  trajectory& traj_;
  bool armed_ = true;
};

}  // namespace kvtraj::trajsrc

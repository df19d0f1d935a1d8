// Input files of the reader benchmarks: KVTRAJ_BENCH_DIR/traj.{dcd,binpos,mdcrd} when the
// variable is set (bench/fmtreaders/compare.py writes them), else the shared peptide run.
#pragma once

#include <cstdlib>
#include <string>

namespace kvtraj::bench {

inline std::string bench_file(const char* extension) {
  const char* dir = std::getenv("KVTRAJ_BENCH_DIR");
  const std::string stem =
      dir ? std::string(dir) + "/traj" : std::string(KVTRAJ_SHARED_DATA) + "/peptide";
  return stem + "." + extension;
}

}  // namespace kvtraj::bench

// Shared inputs of the fitting and eigen benchmarks: coordinate and matrix files written by
// bench/compare.py (so that the peer tools time the same data), or seeded random data when the
// environment variable KVTRAJ_BENCH_DIR is not set.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace kvtraj::bench {

// `count` float32 values from $KVTRAJ_BENCH_DIR/<name>, or `count` seeded normal values.
std::vector<float> bench_floats(const std::string& name, std::size_t count, unsigned seed);

}  // namespace kvtraj::bench

// A KVT file made by the engine from frames of a known spectrum, for the analyses to work on.
#pragma once

#include <string>
#include <vector>

#include "kvt_io/kvt_io.hpp"
#include "pca/memory_reader.hpp"
#include "testsupport/testsupport.hpp"

namespace kvtraj::analysis::testing {

// The KVT file "run.kvt" in `dir` of `vectors` vectors from `frames` (natoms atoms each).
inline kvtfile compressed(const std::vector<float>& frames, std::int32_t natoms,
                          std::int32_t vectors, const kvtraj::testing::TempDir& dir) {
  pca::testing::MemoryReader reader(frames, natoms);
  pca::Options options;
  options.choice = {pca::VectorChoice::count, static_cast<double>(vectors)};
  options.solver = pca::Solver::exact;
  options.threads = 1;
  const std::string path = dir.path("run.kvt");
  pca::compress(reader, path, options);
  return kvtopen(30, path);
}

}  // namespace kvtraj::analysis::testing

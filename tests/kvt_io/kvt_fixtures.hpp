// Small KVT handles with known contents for the kvt_io tests, and a regex that matches a text
// literally (for death tests on messages that hold file names).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kvt_io/kvt_io.hpp"

namespace kvtraj::testing {

// The arrays of a KVT file of N atoms, F frames and V vectors, all values distinct.
struct KvtSample {
  std::int32_t natoms = 0, nframes = 0, nvecs = 0;
  std::vector<float> avg, evals, evecs, proj;  // column-major as in kvtfile
};

KvtSample make_sample(std::int32_t natoms, std::int32_t nframes, std::int32_t nvecs);

// kvtcreate + one kvtwrite per vector (not closed).
kvtfile handle_of(const KvtSample& s, const std::string& path, float quality = 0.0f);

// Writes `s` to `path` under `magic` ("KVT4" or "KVT6") and returns kvtclose's status.
std::int32_t write_sample(const KvtSample& s, const std::string& path,
                          const std::string& magic = "KVT4", float quality = 0.0f);

std::string literal_regex(const std::string& text);

}  // namespace kvtraj::testing

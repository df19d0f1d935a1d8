// Error-bounded compression into KVT7 files: the engine's analysis gives the principal
// components, the codec (codec/codec.hpp) codes every frame on a grid so that each coordinate of
// each rebuilt frame is within the maximum error of the frame as the reader gave it. The number
// of vectors is the one that makes the smallest file, judged on the first block's frames by the
// bytes they code to plus what the vectors and projections cost (none at all when the frames
// code best from their own past). Blocks are coded on the engine's threads; each is decoded
// again and checked before it is written. Library code: nothing is printed.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "codec/codec.hpp"
#include "pca/pca.hpp"

#pragma GCC visibility push(default)  // the installed interface, exported by shared builds

namespace kvtraj::pca {

// Vectors computed for the choice of how many to keep when nothing fixes it.
inline constexpr std::int32_t kMaxBoundedVectors = 32;

struct BoundedOptions {
  double max_error = 0.0;                // Å, per coordinate
  std::optional<std::int32_t> vectors;   // fixed number of vectors; chosen by size otherwise
  std::vector<codec::AtomGroup> groups;  // coded without the components (solvent), may be empty
};

struct BoundedSummary {
  Summary summary;             // bytes and vectors as for KVT4
  double max_error = 0.0;      // asked
  double max_deviation = 0.0;  // found when verifying, over every coordinate
  std::int64_t blocks = 0;
  std::int64_t model_blocks = 0;  // blocks predicted from the components
};

// The analysis options that compute what write_bounded may choose from.
Options bounded_analysis(const Options& options, const BoundedOptions& bounded);

// Codes every frame of `reader` after an analysis `c` (of all its frames, with
// bounded_analysis) and writes the KVT7 file `output`, complete or not at all.
BoundedSummary write_bounded(const Components& c, FrameReader& reader, const std::string& output,
                             const Options& options, const BoundedOptions& bounded,
                             const ProgressFn& progress = {});

// analyse + write_bounded.
BoundedSummary compress_bounded(FrameReader& reader, const std::string& output,
                                const Options& options, const BoundedOptions& bounded,
                                const ProgressFn& progress = {});

}  // namespace kvtraj::pca

#pragma GCC visibility pop

// The centre of the analysis: the iterative fit (every frame fitted onto the first, then onto
// the average of the fitted frames until it settles), one pass per round, and the transform that
// later passes apply to every block (fit onto the last reference, subtract the average).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "pca/parallel.hpp"
#include "pca/pca.hpp"
#include "pca/stream.hpp"

namespace kvtraj::pca {

struct Centre {
  bool fit = false;
  std::vector<float> reference;  // what the frames are fitted onto (when fitting)
  std::vector<float> average;    // of the (fitted) frames
  int rounds = 0;                // fit rounds run
  double movement = 0.0;         // RMS movement of the average in the last round (Å)
  Cores* cores = nullptr;        // shared by the passes' threads
  std::int64_t frames = 0;       // of all processes
  bool shared = false;           // the frames are spread over several processes

  // Fits the `count` frames of `block` onto the reference (when fitting), then subtracts the
  // average from each.
  void apply(std::span<float> block, std::int64_t count) const;
};

// Passes over the stream until the average is known: one pass without fitting, otherwise one
// per fit round (same tolerance and round limit as always). `shared`: the frames are spread over
// several processes, and the fit starts from the first frame of all.
Centre find_centre(FrameStream& stream, bool fit, Cores& cores, Reducer& reducer,
                   bool shared = false);

}  // namespace kvtraj::pca

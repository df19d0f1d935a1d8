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

#pragma GCC visibility push(default)  // shared with the analysis library: exported by shared builds

namespace kvtraj::pca {

// How the frames are fitted: onto the first frame and then the iterated average, or onto a given
// reference; on all atoms, or with weights (0 leaves an atom out of the fit, not of the frame).
struct FitSpec {
  bool fit = false;
  std::vector<float> weights;    // per atom; empty: all atoms count alike
  std::vector<float> reference;  // 3N; empty: iterate onto the average
};

struct Centre {
  bool fit = false;
  std::vector<float> weights;    // of the fit, per atom; empty: unweighted
  std::vector<float> reference;  // what the frames are fitted onto (when fitting)
  std::vector<float> average;    // of the (fitted) frames
  int rounds = 0;                // fit rounds run
  double movement = 0.0;         // RMS movement of the average in the last round (Å)
  Cores* cores = nullptr;        // the analysis's cores, for the work between passes
  std::int64_t frames = 0;       // of all processes
  bool shared = false;           // the frames are spread over several processes
  // False while `average` holds only a provisional origin (the first frame of all), which a
  // solver's first pass replaces with the true average (see settle).
  bool settled = true;

  // Fits the `count` frames of `block` onto the reference (when fitting), then subtracts the
  // average from each, on `on` (the cores of the block's pass or part).
  void apply(Cores& on, std::span<float> block, std::int64_t count) const;
  // While not settled (and so not fitting): subtracts the provisional origin from each frame
  // and adds the results to `sums` (3N coordinates, then the frame count), in one sweep.
  void apply_and_sum(Cores& on, std::span<float> block, std::int64_t count,
                     std::span<double> sums) const;
  // From the sums over this process's frames (apply_and_sum), summed over all processes: moves
  // the average to the true one and returns the shift.
  std::vector<double> settle(std::vector<double> sums, Reducer& reducer);
};

// Passes over the stream until the average is known: one pass without fitting or with a given
// reference, otherwise one per fit round (same tolerance and round limit as always); the rounds
// start from the first frame of all and settle the average of the fitted atoms. `shared`: the
// frames are spread over several processes. `defer_average`, without fitting: no pass; the
// solver's first pass settles the average.
Centre find_centre(FrameStream& stream, const FitSpec& spec, Cores& cores, Reducer& reducer,
                   bool shared = false, bool defer_average = false);

}  // namespace kvtraj::pca

#pragma GCC visibility pop

// The two solvers behind the engine. Both take the centred frames pass by pass from the stream
// (through the centre's transform), learn the total variance from the data, let `choose` decide
// how many vectors to keep from the eigenvalues they find, and return the kept unit vectors of
// the covariance and the projections of every frame on them.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "pca/centre.hpp"
#include "pca/pca.hpp"
#include "pca/stream.hpp"

#pragma GCC visibility push(default)  // shared with the analysis library: exported by shared builds

namespace kvtraj::pca {

struct Solution {
  std::vector<float> eigenvalues;  // largest first
  double total = 0.0;
  std::int32_t kept = 0;
  std::vector<float> vectors;  // 3N x kept
  std::vector<float> proj;     // frames x kept
};

// Receives the eigenvalues known so far and the total variance; returns the vectors to keep.
using ChooseFn = std::function<std::int32_t(std::span<const float> eigenvalues, double total)>;

// Frames per block for the exact solver, whose memory is its matrix and little beside.
std::int64_t exact_block_frames(std::int64_t n);
// Bytes the exact solver holds at its peak for n coordinates and f frames of all processes,
// `spread` over several (the resident upper triangle of the double matrix, with the blocks and
// the Gram route's panel of frames at its smallest, or the buffer of the sums across processes),
// to compare with the budget. The kept vectors come beside the matrix, n x K doubles.
std::uint64_t exact_bytes(std::int64_t n, std::int64_t frames, bool spread);

Solution solve_exact(FrameStream& stream, const Centre& centre, Reducer& reducer,
                     std::int64_t budget, const ChooseFn& choose);

// The randomized solver's block width (K plus oversampling when K is given) and the most basis
// columns the budget allows, for `parts` parts a pass (FrameStream::max_parts); a budget too
// small for two blocks is fatal.
struct KrylovSize {
  std::int64_t block = 0;
  std::int64_t columns = 0;
};
KrylovSize krylov_size(std::int64_t n, std::int64_t frames, std::int64_t block_frames, int parts,
                       std::int64_t budget, std::int32_t wanted);
// The bytes the randomized solver's basis and its products take at that size (the blocks of
// frames apart).
std::uint64_t krylov_bytes(const KrylovSize& size, std::int64_t n, std::int64_t frames, int parts);

// `wanted`: K when the count is given, otherwise 0.
// An unsettled centre is settled by the first pass.
Solution solve_randomized(FrameStream& stream, Centre& centre, Reducer& reducer,
                          std::int64_t budget, std::int32_t wanted, const ChooseFn& choose);

// Projections of every centred frame on the vectors (frames x kept): one pass.
std::vector<float> project(FrameStream& stream, const Centre& centre,
                           std::span<const float> vectors, std::int32_t kept);

}  // namespace kvtraj::pca

#pragma GCC visibility pop

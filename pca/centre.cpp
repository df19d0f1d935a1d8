#include "pca/centre.hpp"

#include <algorithm>
#include <cmath>
#include <string>
#include <thread>

#include "ensemble/ensemble.hpp"

namespace kvtraj::pca {
namespace {

// Fits the frames of a block onto the reference; with two threads the second half of the block
// is fitted beside the first (the fits share nothing but the read-only reference).
void fit_block(std::span<float> block, std::int64_t count, std::span<const float> reference,
               int threads) {
  const auto natoms = static_cast<std::int32_t>(reference.size() / 3);
  const std::int64_t half = threads > 1 ? count / 2 : 0;
  const std::size_t split = static_cast<std::size_t>(half) * reference.size();
  std::thread helper;
  if (half > 0) {
    helper = std::thread([&] {
      trajfit(block.subspan(split), reference, natoms, static_cast<std::int32_t>(count - half), 0);
    });
  }
  trajfit(block.first(split == 0 ? block.size() : split), reference, natoms,
          static_cast<std::int32_t>(half > 0 ? half : count), 0);
  if (helper.joinable()) helper.join();
}

double rms_difference(std::span<const float> a, std::span<const float> b) {
  double sum = 0.0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const double d = static_cast<double>(a[i]) - b[i];
    sum += d * d;
  }
  return std::sqrt(sum / std::max<std::size_t>(a.size() / 3, 1));
}

// The first frame of all processes: the leading one reads it, the others add zeros.
std::vector<float> first_frame(FrameStream& stream, Reducer& reducer) {
  std::vector<float> frame(static_cast<std::size_t>(stream.coordinates()), 0.0f);
  if (reducer.leads()) stream.read_first(frame);
  reducer.sum(frame);
  return frame;
}

// One pass: the frames, fitted onto `reference` when it is given (the first frame when it is
// empty), summed in double and divided by the frame count across all processes.
std::vector<float> average_pass(FrameStream& stream, std::string_view name,
                                std::vector<float>& reference, bool fit, int threads,
                                Reducer& reducer) {
  const std::int64_t n = stream.coordinates();
  std::vector<double> sum(static_cast<std::size_t>(n) + 1, 0.0);
  stream.pass(name, [&](std::int64_t, std::int64_t count, std::span<float> block) {
    if (fit) {
      if (reference.empty()) reference.assign(block.begin(), block.begin() + n);
      fit_block(block, count, reference, threads);
    }
    for (std::int64_t f = 0; f < count; ++f) {
      const float* x = block.data() + f * n;
      for (std::int64_t i = 0; i < n; ++i) sum[i] += x[i];
    }
    sum[n] += static_cast<double>(count);
  });
  reducer.sum(sum);
  std::vector<float> average(static_cast<std::size_t>(n));
  const double frames = std::max(sum[n], 1.0);
  for (std::int64_t i = 0; i < n; ++i) average[i] = static_cast<float>(sum[i] / frames);
  return average;
}

}  // namespace

void Centre::apply(std::span<float> block, std::int64_t count) const {
  if (fit) fit_block(block, count, reference, threads);
  const std::size_t n = average.size();
  for (std::int64_t f = 0; f < count; ++f) {
    float* x = block.data() + f * n;
    for (std::size_t i = 0; i < n; ++i) x[i] -= average[i];
  }
}

Centre find_centre(FrameStream& stream, bool fit, int threads, Reducer& reducer, bool shared) {
  Centre c;
  c.fit = fit;
  c.threads = threads;
  c.shared = shared;
  if (!fit) {
    c.average = average_pass(stream, "average", c.reference, false, threads, reducer);
    return c;
  }
  // Alone, the first block's first frame serves; shared, every process needs it before its
  // first block.
  if (shared) c.reference = first_frame(stream, reducer);
  for (;;) {
    ++c.rounds;
    c.average = average_pass(stream, "fit round " + std::to_string(c.rounds), c.reference, true,
                             threads, reducer);
    c.movement = rms_difference(c.average, c.reference);
    if (c.movement < kFitTolerance || c.rounds == kMaxFitRounds) return c;
    c.reference = c.average;
  }
}

}  // namespace kvtraj::pca

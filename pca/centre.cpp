#include "pca/centre.hpp"

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>

#include "ensemble/ensemble.hpp"
#include "pca/parallel.hpp"

namespace kvtraj::pca {
namespace {

// Fits frames [f0, f1) of a block onto the reference; the fits share nothing but the
// read-only reference and weights, so ranges of frames run side by side.
// With a `centre`, it is subtracted from each fitted frame.
void fit_frames(std::span<float> block, std::int64_t f0, std::int64_t f1,
                std::span<const float> reference, std::span<const float> weights,
                std::span<const float> centre = {}) {
  const std::size_t n = reference.size();
  std::optional<std::span<const float>> weighted;
  if (!weights.empty()) weighted = weights;
  trajfit(block.subspan(static_cast<std::size_t>(f0) * n, static_cast<std::size_t>(f1 - f0) * n),
          reference, static_cast<std::int32_t>(n / 3), static_cast<std::int32_t>(f1 - f0), 0,
          weighted, centre);
}

// RMS distance between two structures over the fitted atoms (all, without weights).
double rms_difference(std::span<const float> a, std::span<const float> b,
                      std::span<const float> weights) {
  double sum = 0.0, atoms = 0.0;
  for (std::size_t k = 0; k < a.size() / 3; ++k) {
    if (!weights.empty() && weights[k] == 0.0f) continue;
    atoms += 1.0;
    for (std::size_t i = 3 * k; i < 3 * k + 3; ++i) {
      const double d = static_cast<double>(a[i]) - b[i];
      sum += d * d;
    }
  }
  return std::sqrt(sum / std::max(atoms, 1.0));
}

// The first frame of all processes: the leading one reads it, the others add zeros.
std::vector<float> first_frame(FrameStream& stream, Reducer& reducer) {
  std::vector<float> frame(static_cast<std::size_t>(stream.coordinates()), 0.0f);
  if (reducer.leads()) stream.read_first(frame);
  reducer.sum(frame);
  return frame;
}

// One pass: the frames, fitted onto `reference` when fitting, summed in double and divided by
// the frame count across all processes.
std::vector<float> average_pass(FrameStream& stream, std::string_view name, const Centre& c,
                                Reducer& reducer) {
  const std::int64_t n = stream.coordinates();
  PartSums<double> sums(stream.max_parts(), static_cast<std::size_t>(n) + 1);
  stream.pass_in_parts(name, [&](const FrameStream::Part& part, std::int64_t, std::int64_t count,
                                 std::span<float> block) {
    if (c.fit) {
      share_range(part.cores, count, [&](std::int64_t f0, std::int64_t f1) {
        fit_frames(block, f0, f1, c.reference, c.weights);
      });
    }
    // Each coordinate sums its frames in order, whichever thread has it.
    const std::span<double> sum = sums[part.index];
    share_range(part.cores, n, [&](std::int64_t i0, std::int64_t i1) {
      for (std::int64_t f = 0; f < count; ++f) {
        const float* x = block.data() + f * n;
        for (std::int64_t i = i0; i < i1; ++i) sum[i] += x[i];
      }
    });
    sum[n] += static_cast<double>(count);
  });
  std::vector<double> sum(static_cast<std::size_t>(n) + 1, 0.0);
  sums.add_to(sum);
  reducer.sum(sum);
  std::vector<float> average(static_cast<std::size_t>(n));
  const double frames = std::max(sum[n], 1.0);
  for (std::int64_t i = 0; i < n; ++i) average[i] = static_cast<float>(sum[i] / frames);
  return average;
}

}  // namespace

void Centre::apply_and_sum(Cores& on, std::span<float> block, std::int64_t count,
                           std::span<double> sums) const {
  const std::size_t n = average.size();
  // A block's sum in float (a few hundred frames at most), the blocks' sums in double.
  std::vector<float> block_sum(n);
  share_sum(on, count, block_sum, [&](std::int64_t f0, std::int64_t f1, float* out) {
    for (std::int64_t f = f0; f < f1; ++f) {
      float* x = block.data() + f * n;
      for (std::size_t i = 0; i < n; ++i) {
        x[i] -= average[i];
        out[i] += x[i];
      }
    }
  });
  for (std::size_t i = 0; i < n; ++i) sums[i] += block_sum[i];
  sums[n] += static_cast<double>(count);
}

std::vector<double> Centre::settle(std::vector<double> sums, Reducer& reducer) {
  reducer.sum(sums);
  const std::size_t n = average.size();
  const double count = std::max(sums[n], 1.0);
  std::vector<double> shift(n);
  for (std::size_t i = 0; i < n; ++i) {
    shift[i] = sums[i] / count;
    average[i] = static_cast<float>(average[i] + shift[i]);
  }
  settled = true;
  return shift;
}

void Centre::apply(Cores& on, std::span<float> block, std::int64_t count) const {
  const std::size_t n = average.size();
  share_range(on, count, [&](std::int64_t f0, std::int64_t f1) {
    if (fit) return fit_frames(block, f0, f1, reference, weights, average);
    for (std::int64_t f = f0; f < f1; ++f) {
      float* x = block.data() + f * n;
      for (std::size_t i = 0; i < n; ++i) x[i] -= average[i];
    }
  });
}

Centre find_centre(FrameStream& stream, const FitSpec& spec, Cores& cores, Reducer& reducer,
                   bool shared, bool defer_average) {
  Centre c;
  c.fit = spec.fit;
  c.weights = spec.weights;
  c.cores = &cores;
  c.shared = shared;
  if (!c.fit && defer_average) {
    c.average = first_frame(stream, reducer);
    c.settled = false;
    return c;
  }
  if (!c.fit) {
    c.average = average_pass(stream, "average", c, reducer);
    return c;
  }
  if (!spec.reference.empty()) {
    c.reference = spec.reference;
    c.rounds = 1;
    c.average = average_pass(stream, "fit onto the reference", c, reducer);
    return c;
  }
  // The first round fits onto the first frame of all, which every part needs before it starts.
  c.reference = first_frame(stream, reducer);
  for (;;) {
    ++c.rounds;
    c.average = average_pass(stream, "fit round " + std::to_string(c.rounds), c, reducer);
    c.movement = rms_difference(c.average, c.reference, c.weights);
    if (c.movement < kFitTolerance || c.rounds == kMaxFitRounds) return c;
    c.reference = c.average;
  }
}

}  // namespace kvtraj::pca

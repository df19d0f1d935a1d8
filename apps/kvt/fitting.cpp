#include <algorithm>
#include <cmath>
#include <vector>

#include "apps/kvt/pca.hpp"
#include "ensemble/ensemble.hpp"

namespace kvtraj::app {
namespace {

// Frames fitted per call, so that progress can be shown during a round.
constexpr std::int64_t kFitChunk = 2000;

void fit_all(std::span<float> traj, std::span<const float> reference, std::int32_t natoms,
             std::int32_t nframes, Progress& progress, int round) {
  const auto n = static_cast<std::size_t>(3) * natoms;
  progress.begin("fit round " + std::to_string(round), nframes);
  for (std::int64_t f0 = 0; f0 < nframes; f0 += kFitChunk) {
    const auto count = static_cast<std::int32_t>(std::min<std::int64_t>(kFitChunk, nframes - f0));
    trajfit(traj.subspan(static_cast<std::size_t>(f0) * n, count * n), reference, natoms, count, 0);
    progress.update(f0 + count);
  }
  progress.end();
}

double rms_difference(std::span<const float> a, std::span<const float> b, std::int32_t natoms) {
  double sum = 0.0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const double d = static_cast<double>(a[i]) - b[i];
    sum += d * d;
  }
  return std::sqrt(sum / std::max(natoms, 1));
}

}  // namespace

FitReport fit_iteratively(std::span<float> traj, std::int32_t natoms, std::int32_t nframes,
                          std::span<float> average, Progress& progress) {
  const auto n = static_cast<std::size_t>(3) * natoms;
  std::vector<float> reference(traj.begin(), traj.begin() + static_cast<std::ptrdiff_t>(n));
  FitReport report;
  for (;;) {
    fit_all(traj, reference, natoms, nframes, progress, ++report.rounds);
    trajavg(traj, average, natoms, nframes);
    report.movement = rms_difference(average, reference, natoms);
    if (report.movement < kFitTolerance || report.rounds == kMaxFitRounds) return report;
    std::copy(average.begin(), average.end(), reference.begin());
  }
}

}  // namespace kvtraj::app

// Average structure and in-place fitting of a trajectory.
#include <algorithm>
#include <cstddef>

#include "ensemble/ensemble.hpp"
#include "superpose/superpose.hpp"
#include "support/fatal.hpp"
#include "support/sizes.hpp"

namespace kvtraj {
namespace {

// 3 x natoms, checked against the trajectory and structure spans of the caller.
std::size_t snapshot_size(std::int32_t natoms, std::size_t structure_size) {
  if (natoms < 0) die(stdout, "ensemble: negative atom count");
  const std::size_t size = 3 * static_cast<std::size_t>(natoms);
  if (structure_size < size)
    die(stdout, "ensemble: a structure holds fewer than 3 x natoms values");
  return size;
}

void require_frames(std::size_t snapshot, std::int32_t nframes, std::size_t traj_size) {
  const auto total = checked_mul(static_cast<std::int64_t>(snapshot), nframes);
  if (!total || *total > traj_size) {
    die(stdout, "ensemble: the trajectory holds fewer than 3 x natoms x nframes values");
  }
}

void apply(const Matrix3f& rot, const Vector3f& trans, std::span<float> snapshot) {
  for (std::size_t k = 0; k + 2 < snapshot.size(); k += 3) {
    const float x = snapshot[k], y = snapshot[k + 1], z = snapshot[k + 2];
    for (int i = 0; i < 3; ++i) {
      snapshot[k + i] = ((rot[i] * x + rot[i + 3] * y) + rot[i + 6] * z) + trans[i];
    }
  }
}

}  // namespace

void trajavg(std::span<const float> traj, std::span<float> avg, std::int32_t natoms,
             std::int32_t nframes) {
  const std::size_t size = snapshot_size(natoms, avg.size());
  std::fill_n(avg.begin(), size, 0.0f);
  if (nframes <= 0) return;
  require_frames(size, nframes, traj.size());
  for (std::size_t f = 0; f < static_cast<std::size_t>(nframes); ++f) {
    const float* snapshot = traj.data() + f * size;
    for (std::size_t k = 0; k < size; ++k) avg[k] += snapshot[k];
  }
  const float scale = 1.0f / static_cast<float>(nframes);
  for (std::size_t k = 0; k < size; ++k) avg[k] *= scale;
}

void trajfit(std::span<float> traj, std::span<const float> ref, std::int32_t natoms,
             std::int32_t nframes, std::int32_t /*unused*/,
             std::optional<std::span<const float>> weights, std::span<const float> centre) {
  if (nframes <= 0) return;
  const std::size_t size = snapshot_size(natoms, ref.size());
  require_frames(size, nframes, traj.size());
  if (!centre.empty() && centre.size() < size) {
    die(stdout, "ensemble: a structure holds fewer than 3 x natoms values");
  }
  Matrix3f rot{};
  Vector3f trans{};
  float rms = 0.0f;
  const std::optional<FitReference> prepared =
      weights ? std::nullopt : std::optional<FitReference>(std::in_place, natoms, ref);
  for (std::size_t f = 0; f < static_cast<std::size_t>(nframes); ++f) {
    const std::span<float> snapshot = traj.subspan(f * size, size);
    if (prepared) {
      prepared->fit(snapshot, rot, trans, rms, 1);
    } else {
      superposew(natoms, ref, snapshot, rot, trans, rms, 1, *weights);
    }
    apply(rot, trans, snapshot);
    if (!centre.empty()) {
      for (std::size_t i = 0; i < size; ++i) snapshot[i] -= centre[i];
    }
  }
}

}  // namespace kvtraj

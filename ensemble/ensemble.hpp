// Whole-trajectory operations on a trajectory held in memory (3 x natoms x nframes reals, x, y, z
// per atom, snapshot after snapshot): the average structure, and the least-squares fit of every
// snapshot onto a reference structure, in place.
//
// Threads: both work on their arguments only; calls on different trajectories may run at once.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#pragma GCC visibility push(default)  // the installed interface, exported by shared builds

namespace kvtraj {

// avg = mean of the snapshots (3 x natoms reals), summed in single precision and scaled by the
// reciprocal of nframes. nframes <= 0 leaves the average at zero.
void trajavg(std::span<const float> traj, std::span<float> avg, std::int32_t natoms,
             std::int32_t nframes);

// Fits every snapshot onto `ref` (3 x natoms) and overwrites it with rot * x + trans. With
// `weights` (natoms reals) the fit is weighted. `unused` is accepted and ignored. nframes <= 0
// does nothing. A non-empty `centre` (3 x natoms) is then subtracted from each fitted snapshot,
// as a pass of its own would, while the snapshot is still in cache.
void trajfit(std::span<float> traj, std::span<const float> ref, std::int32_t natoms,
             std::int32_t nframes, std::int32_t unused = 0,
             std::optional<std::span<const float>> weights = std::nullopt,
             std::span<const float> centre = {});

}  // namespace kvtraj

#pragma GCC visibility pop

// Reading a whole input for the reader fuzz targets, straight from its bytes through a reader:
// every frame is read until the reader reports none.
#pragma once

#include <cstdint>
#include <vector>

#include "fmtreaders/readers.hpp"
#include "fuzz/fuzz_support.hpp"

namespace kvtraj::fuzz {

// At most 4096 frames, so that one input cannot run for long. Like a careful caller, the target
// sizes its frame buffer by a header's atom count only when the input can hold a frame of that
// size (a header alone may claim any count): `atom_bits` is the fewest bits a frame spends on an
// atom (three 32-bit reals; compressed XTC frames as few as 2).
inline void read_frames(readers::FrameReader& reader, std::int32_t natoms, std::size_t bytes,
                        std::uint64_t atom_bits = 96) {
  constexpr int kMaxFrames = 4096;
  if (natoms < 1 || static_cast<std::uint64_t>(natoms) * atom_bits > 8 * std::uint64_t{bytes}) {
    return;
  }
  std::vector<float> coords(3 * static_cast<std::size_t>(natoms)), box(6);
  for (int frame = 0; frame < kMaxFrames && reader.read(natoms, coords, box) == kIoOk; ++frame) {
  }
}

}  // namespace kvtraj::fuzz

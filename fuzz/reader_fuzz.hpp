// Reading a whole input for the reader fuzz targets, straight from its bytes through a reader:
// every frame is read until the reader reports none.
#pragma once

#include <cstdint>
#include <span>
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

// Opens the input from memory with `open` (dcd_reader, trr_reader, xtc_reader) and reads its
// frames as above.
template <class Open>
void open_and_read(Open open, const std::uint8_t* data, std::size_t size,
                   std::uint64_t atom_bits = 96) {
  std::int32_t type = 0, natoms = 0;
  const auto bytes = std::span(reinterpret_cast<const char*>(data), size);
  if (auto reader = open(readers::BinaryFile::over(bytes), type, natoms)) {
    read_frames(*reader, natoms, size, atom_bits);
  }
}

}  // namespace kvtraj::fuzz

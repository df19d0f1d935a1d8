// Reading a whole file through the reader handle table, for the reader fuzz targets: every
// frame is read until the reader reports none, and every handle is released afterwards, also
// when a fatal exit interrupted the reader.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fmtreaders/fmtreaders.hpp"
#include "fuzz/fuzz_support.hpp"

namespace kvtraj::fuzz {

// Frames are capped so that one input cannot run for long. Like a careful caller, the target
// sizes its frame buffer by the header's atom count only when the file can hold a frame of
// that size (a header alone may claim any count): `atom_bits` is the fewest bits a frame spends
// on an atom (three 32-bit reals; compressed XTC frames as few as 2).
inline void read_every_frame(const std::string& path, const char* type, std::int32_t natoms,
                             std::size_t file_bytes, std::uint64_t atom_bits = 96) {
  constexpr int kMaxFrames = 4096;
  survive([&] {
    std::int32_t handle = -1, n = natoms, status = 0;
    f77_molfile_open_read(handle, n, path, type);
    if (handle < 51) return;
    const std::int32_t atoms = n > 0 ? n : natoms;
    if (static_cast<std::uint64_t>(atoms) * atom_bits > 8 * std::uint64_t{file_bytes}) return;
    std::vector<float> coords(3 * static_cast<std::size_t>(atoms > 0 ? atoms : 0));
    std::vector<float> box(6);
    for (int frame = 0; frame < kMaxFrames; ++frame) {
      f77_molfile_read_next(handle, atoms, coords, box, status);
      if (status != 1) break;
    }
  });
  f77_molfile_init();  // releases whatever a fatal exit left open
}

}  // namespace kvtraj::fuzz

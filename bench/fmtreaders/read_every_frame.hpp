// The reading loop the reader benchmarks time: open through the handle table, every frame into
// one buffer, close.
#pragma once

#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "fmtreaders/fmtreaders.hpp"

namespace kvtraj::bench {

// The frames read, or -1 when the file does not open; `natoms` is set from the file.
inline std::int64_t read_every_frame(const std::string& path, const char* format,
                                     std::int32_t& natoms) {
  f77_molfile_init();
  std::int32_t handle = 0, status = 1;
  f77_molfile_open_read(handle, natoms, path, format);
  if (handle < 0) return -1;
  std::vector<float> coords(3 * static_cast<std::size_t>(natoms));
  std::array<float, 6> box{};
  std::int64_t frames = 0;
  for (f77_molfile_read_next(handle, natoms, coords, box, status); status == 1;
       f77_molfile_read_next(handle, natoms, coords, box, status)) {
    ++frames;
    benchmark::DoNotOptimize(coords.data());
  }
  f77_molfile_close_read(handle, status);
  return frames;
}

}  // namespace kvtraj::bench

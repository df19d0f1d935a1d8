// KVT7 files of any content: kvtopen reads the principal-component part and the coded part's
// header, plan and index; then a frame of every block (the first and the last frame of the
// file among them) is decoded. Damage must end in one fatal line, never a crash.
#include <algorithm>
#include <vector>

#include "fuzz/fuzz_support.hpp"
#include "kvt_io/kvt_io.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kvtraj::fuzz::init();
  const kvtraj::fuzz::InputFile file(data, size, ".kvt");
  kvtraj::fuzz::survive([&] {
    const kvtraj::kvtfile k = kvtraj::kvtopen(10, file.path());
    if (k.status != 0 || !k.coded) return;
    kvtraj::kvtframes frames(k);
    std::vector<float> out(3 * static_cast<std::size_t>(k.natoms));
    const std::int64_t step = std::max<std::int64_t>(1, k.nframes / 64);
    for (std::int64_t i = 1; i <= k.nframes; i += step)
      frames.read(static_cast<std::int32_t>(i), out);
    frames.read(k.nframes, out);
  });
  return 0;
}

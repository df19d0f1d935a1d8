// KVT files of any content (the layout follows the first four bytes, so the seeds hold each
// layout), then the queries on whatever was read.
#include "fuzz/fuzz_support.hpp"
#include "kvt_io/kvt_io.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kvtraj::fuzz::init();
  const kvtraj::fuzz::InputFile file(data, size, ".kvt");
  kvtraj::fuzz::survive([&] {
    const kvtraj::kvtfile k = kvtraj::kvtopen(10, file.path());
    if (k.status != 0) return;
    // Without vectors the file does not back its snapshot count, so a careful caller does not
    // size results by it.
    if (k.nvecs < 1) return;
    (void)kvtraj::kvtsnap(k, k.nframes);
    (void)kvtraj::kvtmaha(k, k.nvecs);
    (void)kvtraj::kvtfluc(k, k.nvecs);
  });
  return 0;
}

// A node-trajectory conversion run on any input text, read from memory; KVTRAJ_CONVERSION names
// the conversion of the program under test (convert_to_amber, convert_to_pdb, convert_to_xyz).
#include <cstdio>

#include "fuzz/fuzz_support.hpp"
#include "support/files.hpp"
#include "tools/node_trajectory.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kvtraj::fuzz::init();
  if (size == 0) return 0;  // fmemopen refuses an empty buffer
  kvtraj::FilePtr in(fmemopen(const_cast<std::uint8_t*>(data), size, "r"));
  kvtraj::FilePtr out(std::fopen("/dev/null", "w"));
  if (in && out) (void)kvtraj::KVTRAJ_CONVERSION(in.get(), out.get());
  return 0;
}

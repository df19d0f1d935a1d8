// XTC files of any content, read from memory: frame headers, block headers and the compressed
// bit stream.
#include "fuzz/reader_fuzz.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kvtraj::fuzz::init();
  // Compressed frames spend as few as 2 bits on an atom.
  kvtraj::fuzz::open_and_read(kvtraj::readers::xtc_reader, data, size, 2);
  return 0;
}

// DCD files of any content, read from memory.
#include "fuzz/reader_fuzz.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kvtraj::fuzz::init();
  kvtraj::fuzz::open_and_read(kvtraj::readers::dcd_reader, data, size);
  return 0;
}

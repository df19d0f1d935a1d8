// XTC files of any content through the handle table: frame headers, block headers and the
// compressed bit stream.
#include "fuzz/reader_fuzz.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kvtraj::fuzz::init();
  const kvtraj::fuzz::InputFile file(data, size, ".xtc");
  kvtraj::fuzz::read_every_frame(file.path(), "xtc", 0, size, 2);
  return 0;
}

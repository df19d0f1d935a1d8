// TRR files of any content through the handle table.
#include "fuzz/reader_fuzz.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kvtraj::fuzz::init();
  const kvtraj::fuzz::InputFile file(data, size, ".trr");
  kvtraj::fuzz::read_every_frame(file.path(), "trr", 0, size);
  return 0;
}

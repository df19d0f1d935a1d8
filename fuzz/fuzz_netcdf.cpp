// NetCDF files of any content through the handle table (and so through the NetCDF library's
// own parsing of the header).
#include "fuzz/reader_fuzz.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kvtraj::fuzz::init();
  const kvtraj::fuzz::InputFile file(data, size, ".nc");
  kvtraj::fuzz::read_every_frame(file.path(), "nc", 0, size);
  return 0;
}

// NetCDF files of any content, read from memory by the classic-format reader: the header (its
// lists, names, counts and offsets), the AMBER convention and the frames.
#include "fuzz/reader_fuzz.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kvtraj::fuzz::init();
  kvtraj::fuzz::open_and_read(kvtraj::readers::netcdf_reader, data, size);
  return 0;
}

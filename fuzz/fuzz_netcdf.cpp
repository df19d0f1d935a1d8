// NetCDF files of any content, through the header walk and the NetCDF library. The library
// opens files by name, so the input goes through a file.
#include "fuzz/reader_fuzz.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kvtraj;
  fuzz::init();
  const fuzz::InputFile file(data, size, ".nc");
  std::int32_t natoms = 0, type = 0;
  if (auto reader = readers::open_netcdf(file.path(), natoms, type)) {
    fuzz::read_frames(*reader, natoms, size);
  }
  return 0;
}

// TRR files of any content, read from memory.
#include "fuzz/reader_fuzz.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kvtraj;
  fuzz::init();
  std::int32_t type = 0, natoms = 0;
  const auto bytes = std::span(reinterpret_cast<const char*>(data), size);
  if (auto reader = readers::trr_reader(readers::BinaryFile::over(bytes), type, natoms)) {
    fuzz::read_frames(*reader, natoms, size);
  }
  return 0;
}

// AMBER formatted files of any content, as crd and as crdbox, read from memory. The first byte
// chooses the atom count that the caller would supply (the format does not record it).
#include <cstdint>

#include "fuzz/reader_fuzz.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kvtraj;
  if (size == 0) return 0;
  fuzz::init();
  const std::int32_t natoms = 1 + data[0] % 64;
  const auto bytes = std::span(reinterpret_cast<const char*>(data) + 1, size - 1);
  for (const bool with_box : {false, true}) {
    fuzz::survive([&] {
      auto reader = readers::open_amber(RecordReader::over(bytes), with_box);
      fuzz::read_frames(*reader, natoms, SIZE_MAX);
    });
  }
  return 0;
}

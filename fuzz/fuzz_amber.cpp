// AMBER formatted files of any content, as crd and as crdbox. The first byte chooses the atom
// count that the caller would supply (the format does not record it).
#include <cstdint>

#include "fuzz/reader_fuzz.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  kvtraj::fuzz::init();
  const std::int32_t natoms = 1 + data[0] % 64;
  const kvtraj::fuzz::InputFile file(data + 1, size - 1, ".crd");
  kvtraj::fuzz::read_every_frame(file.path(), "crd", natoms, SIZE_MAX);
  kvtraj::fuzz::read_every_frame(file.path(), "crdbox", natoms, SIZE_MAX);
  return 0;
}

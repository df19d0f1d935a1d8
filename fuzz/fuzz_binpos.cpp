// binpos files of any content, read from memory.
#include "fuzz/reader_fuzz.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kvtraj;
  fuzz::init();
  const auto bytes = std::span(reinterpret_cast<const char*>(data), size);
  fuzz::survive([&] {
    std::int32_t natoms = 0;
    bool with_box = false;
    auto reader = readers::open_binpos(readers::BinaryFile::over(bytes), natoms, with_box);
    fuzz::read_frames(*reader, natoms, size);
  });
  return 0;
}

// XTC files of any content, read from memory: frame headers, block headers and the compressed
// bit stream.
#include "fuzz/reader_fuzz.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kvtraj;
  fuzz::init();
  const char* error = nullptr;
  const auto bytes = std::span(reinterpret_cast<const char*>(data), size);
  if (auto reader = readers::open_xtc(readers::BinaryFile::over(bytes), error)) {
    fuzz::read_frames(*reader, reader->file_atoms(), size, 2);  // compressed: >= 2 bits an atom
  }
  return 0;
}

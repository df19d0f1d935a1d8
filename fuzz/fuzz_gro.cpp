// GRO files of any content, parsed from memory.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/fuzz_support.hpp"
#include "topology/topology.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kvtraj::fuzz::init();
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  kvtraj::fuzz::survive([&] { kvtraj::parse_gro(text, "fuzz.gro"); });
  return 0;
}

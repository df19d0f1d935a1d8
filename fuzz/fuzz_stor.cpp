// The 5-character real codes of KVT5 files: any field decodes without fault, and every real
// encodes to a field that decodes to the same bits.
#include <cstring>
#include <string>

#include "fuzz/fuzz_support.hpp"
#include "rscode/rscode.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kvtraj::fuzz::init();
  (void)kvtraj::stor(std::string_view(reinterpret_cast<const char*>(data), size < 5 ? size : 5));
  if (size >= 4) {
    float value = 0.0f;
    std::memcpy(&value, data, 4);
    const auto code = kvtraj::rtos(value);
    const float back = kvtraj::stor(std::string_view(code.data(), code.size()));
    if (value == value && std::memcmp(&back, &value, 4) != 0) __builtin_trap();
  }
  return 0;
}

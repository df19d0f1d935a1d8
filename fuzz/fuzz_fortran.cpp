// Fortran-style formatted and list-directed reading of any text: the layouts the KVT header,
// the AMBER reader and the album lists use. The first byte chooses the body's format.
#include <string>
#include <vector>

#include "fuzz/fuzz_support.hpp"
#include "support/fortran_input.hpp"

namespace {

void read_formatted(std::string_view bytes, bool codes) {
  static const kvtraj::Format header("(3i8,f8.3)"), reals("(10f8.3)"), fields("(16a5)");
  auto records = kvtraj::RecordReader::over(bytes);
  kvtraj::FormattedReader in(*records);
  std::string text;
  std::int32_t i = 0;
  float r = 0.0f;
  (void)in.line(80, text);
  in.start(header);
  for (int k = 0; k < 3 && in.integer(i) == kvtraj::kIoOk; ++k) {
  }
  (void)in.real(r);
  if (codes) {
    in.start(fields);
    while (in.text(text) == kvtraj::kIoOk) {
    }
    return;
  }
  std::vector<float> values(37);
  while (in.reals(reals, values) == kvtraj::kIoOk) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  kvtraj::fuzz::init();
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  std::int32_t i = 0;
  float r = 0.0f;
  (void)kvtraj::read_list_int(text, i);
  (void)kvtraj::read_list_real(text, r);
  (void)kvtraj::read_f_field(text.substr(0, 8), data[0] % 8, r);
  (void)kvtraj::read_i_field(text.substr(0, 8), i);
  read_formatted(text, data[0] & 1);
  return 0;
}

// What every KVT reader needs: messages naming the file, its size, and the 100-byte header
// that the binary layouts share.
#include <cstring>

#include "kvt_io/kvt_internal.hpp"
#include "support/fatal.hpp"
#include "support/files.hpp"
#include "support/fixed_text.hpp"

namespace kvtraj::kvt {

void die_file(const kvtfile& kvtf, std::string_view what) {
  die(" " + kvtf.filename + ": " + std::string(what));
}

std::uint64_t size_of_file(const kvtfile& kvtf) {
  const auto size = file_size(kvtf.filename);
  if (!size) die_file(kvtf, "not a regular file");
  return *size;
}

CommonHeader parse_common_header(kvtfile& kvtf, const char* bytes) {
  kvtf.magic.assign(bytes, 4);
  kvtf.title = std::string(trim_right(std::string_view(bytes + 4, kTitleLength)));
  CommonHeader h;
  for (int i = 0; i < 3; ++i) h.counts[i] = get_i32(bytes + 84 + 4 * i);
  std::memcpy(&h.quality, bytes + 96, sizeof(float));
  return h;
}

}  // namespace kvtraj::kvt

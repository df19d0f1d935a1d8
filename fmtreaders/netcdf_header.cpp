// The classic NetCDF header, big-endian: "CDF" and a version byte (1, 2 or 5), the record
// count, then three lists — dimensions, global attributes, variables — each either absent (two
// zero words) or a tag and a count. Counts and lengths are 4 bytes, 8 in CDF-5; names and values
// are padded to 4 bytes. A variable holds its name, dimension ids, attributes, type, slice size
// and begin offset (4 bytes in CDF-1, 8 otherwise).
#include "fmtreaders/netcdf_header.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace kvtraj::readers {
namespace {

constexpr std::uint32_t kDimensionTag = 10;
constexpr std::uint32_t kVariableTag = 11;
constexpr std::uint32_t kAttributeTag = 12;

// Reads the header's words, failing (and staying failed) at the end of the file.
class HeaderCursor {
 public:
  HeaderCursor(BinaryFile& file, bool wide) : file_(file), wide_(wide) {}

  std::uint64_t word(bool wide) {
    std::array<unsigned char, 8> raw{};
    const std::size_t bytes = wide ? 8 : 4;
    if (!ok_ || !file_.read(raw.data(), bytes)) {
      ok_ = false;
      return 0;
    }
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < bytes; ++i) v = v << 8 | raw[i];
    return v;
  }
  std::uint64_t count() { return word(wide_); }
  std::uint32_t u32() { return static_cast<std::uint32_t>(word(false)); }
  // Passes `bytes` bytes padded to 4, which the file must hold.
  void pass(std::uint64_t bytes) {
    if (bytes > file_.remaining()) ok_ = false;
    if (ok_) file_.seek(file_.position() + (bytes + 3) / 4 * 4);
  }
  // A count of items of at least `least` bytes each, refused when the file cannot hold them.
  std::uint64_t items(std::uint64_t least) {
    const std::uint64_t n = count();
    if (n > file_.remaining() / least) ok_ = false;
    return ok_ ? n : 0;
  }
  bool ok() const { return ok_; }
  void fail() { ok_ = false; }

 private:
  BinaryFile& file_;
  bool wide_ = false;
  bool ok_ = true;
};

std::uint64_t type_size(std::uint32_t type) {
  constexpr std::array<std::uint64_t, 12> kSizes = {0, 1, 1, 2, 4, 4, 8, 1, 2, 4, 8, 8};
  return type < kSizes.size() ? kSizes[type] : 0;
}

// A list's tag and item count; zero items for an absent list, a refused cursor for a wrong tag.
std::uint64_t list_items(HeaderCursor& c, std::uint32_t tag, std::uint64_t least) {
  const std::uint32_t found = c.u32();
  if (found == 0) {
    if (c.count() != 0) c.fail();
    return 0;
  }
  if (found != tag) c.fail();
  return c.items(least);
}

void pass_name(HeaderCursor& c) {
  c.pass(c.items(1));
}

void pass_attributes(HeaderCursor& c) {
  const std::uint64_t n = list_items(c, kAttributeTag, 12);
  for (std::uint64_t i = 0; i < n && c.ok(); ++i) {
    pass_name(c);
    const std::uint64_t size = type_size(c.u32());
    if (size == 0) c.fail();
    c.pass(size * c.items(size == 0 ? 1 : size));
  }
}

}  // namespace

HeaderCheck check_classic_header(BinaryFile& file, ClassicLayout& layout) {
  std::array<char, 4> magic{};
  if (!file.seek(0) || !file.read(magic.data(), magic.size()) ||
      std::memcmp(magic.data(), "CDF", 3) != 0) {
    return HeaderCheck::not_classic;
  }
  const char version = magic[3];
  if (version != 1 && version != 2 && version != 5) return HeaderCheck::refused;
  HeaderCursor c(file, version == 5);
  c.count();  // the record count, which the library keeps
  const std::uint64_t ndims = list_items(c, kDimensionTag, 8);
  std::vector<bool> unlimited;
  for (std::uint64_t i = 0; i < ndims && c.ok(); ++i) {
    pass_name(c);
    unlimited.push_back(c.count() == 0);
  }
  pass_attributes(c);
  const std::uint64_t nvars = list_items(c, kVariableTag, 24);
  for (std::uint64_t i = 0; i < nvars && c.ok(); ++i) {
    pass_name(c);
    const std::uint64_t rank = c.items(4);
    bool per_record = false;
    for (std::uint64_t d = 0; d < rank && c.ok(); ++d) {
      const std::uint64_t id = c.count();
      if (id >= unlimited.size()) c.fail();
      if (c.ok() && d == 0) per_record = unlimited[id];
    }
    pass_attributes(c);
    c.u32();  // type
    const std::uint64_t slice = c.count();
    const std::uint64_t begin = c.word(version != 1);
    if (begin > UINT64_MAX - slice) c.fail();
    if (per_record && c.ok()) {
      layout.record_bytes += slice;
      layout.records_end = std::max(layout.records_end, begin + slice);
    }
  }
  return c.ok() ? HeaderCheck::layout : HeaderCheck::refused;
}

std::uint64_t whole_records(const ClassicLayout& layout, std::uint64_t file_bytes) {
  if (layout.record_bytes == 0 || file_bytes < layout.records_end) return 0;
  return 1 + (file_bytes - layout.records_end) / layout.record_bytes;
}

}  // namespace kvtraj::readers

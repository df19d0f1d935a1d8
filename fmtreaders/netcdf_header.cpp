// The classic NetCDF header, big-endian: "CDF" and a version byte (1, 2 or 5), the record
// count, then three lists — dimensions, global attributes, variables — each either absent (two
// zero words) or a tag and a count. Counts and lengths are 4 bytes, 8 in CDF-5; names and values
// are padded to 4 bytes. A variable holds its name, dimension ids, attributes, type, size and
// begin offset (4 bytes in CDF-1, 8 otherwise). Data follows: the fixed-size variables, then the
// records, each holding one slice of every record variable (those whose first dimension is the
// unlimited one) in the order they are declared.
#include "fmtreaders/netcdf_header.hpp"

#include <array>
#include <cstring>
#include <string>

#include "support/netcdf_classic.hpp"

namespace kvtraj::readers {
namespace {

constexpr std::uint64_t kMaxAttributeText = 4096;

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
  // Reads `bytes` bytes of text padded to 4, which the file must hold.
  std::string text(std::uint64_t bytes) {
    if (bytes > file_.remaining()) ok_ = false;
    if (!ok_) return {};
    std::string s(bytes, '\0');
    if (!file_.read(s.data(), s.size())) ok_ = false;
    if (ok_) file_.seek(file_.position() + (4 - bytes % 4) % 4);
    return s;
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

std::string name(HeaderCursor& c) {
  return c.text(c.items(1));
}

// Passes an attribute list; the text of Conventions, when wanted and present, goes to
// `conventions`.
void attributes(HeaderCursor& c, std::string* conventions) {
  const std::uint64_t n = list_items(c, netcdf::kAttributeTag, 12);
  for (std::uint64_t i = 0; i < n && c.ok(); ++i) {
    const std::string key = name(c);
    const std::uint32_t type = c.u32();
    const std::uint64_t size = nc_type_size(type);
    if (size == 0) c.fail();
    const std::uint64_t values = c.items(size == 0 ? 1 : size);
    if (conventions && key == "Conventions" && type == netcdf::kChar &&
        values <= kMaxAttributeText) {
      *conventions = c.text(values);
    } else {
      c.pass(size * values);
    }
  }
}

// a * b, or nothing when it overflows.
std::optional<std::uint64_t> times(std::uint64_t a, std::uint64_t b) {
  if (b != 0 && a > UINT64_MAX / b) return std::nullopt;
  return a * b;
}

// The bytes of one record of `var` (all of it for a fixed-size variable), or nothing.
std::optional<std::uint64_t> slice_bytes(const NcLayout& l, const NcVariable& var) {
  std::optional<std::uint64_t> bytes = nc_type_size(var.type);
  for (std::size_t d = 0; d < var.dims.size() && bytes; ++d) {
    const NcDimension& dim = l.dims[var.dims[d]];
    if (!(d == 0 && dim.unlimited)) bytes = times(*bytes, dim.length);
  }
  return bytes;
}

bool is_record(const NcLayout& l, const NcVariable& var) {
  return !var.dims.empty() && l.dims[var.dims[0]].unlimited;
}

// The size of one record: every record variable's slice padded to 4, unless there is only one.
bool measure_records(NcLayout& l) {
  std::uint64_t total = 0, last = 0, count = 0;
  for (const NcVariable& var : l.vars) {
    if (!is_record(l, var)) continue;
    const auto bytes = slice_bytes(l, var);
    if (!bytes || *bytes > UINT64_MAX - 3 - total) return false;
    last = *bytes;
    total += (*bytes + 3) / 4 * 4;
    ++count;
  }
  l.record_bytes = count == 1 ? last : total;
  return true;
}

}  // namespace

std::uint64_t nc_type_size(std::uint32_t type) {
  constexpr std::array<std::uint64_t, 12> kSizes = {0, 1, 1, 2, 4, 4, 8, 1, 2, 4, 8, 8};
  return type < kSizes.size() ? kSizes[type] : 0;
}

HeaderCheck read_classic_header(BinaryFile& file, NcLayout& layout) {
  std::array<char, 4> magic{};
  if (!file.seek(0) || !file.read(magic.data(), magic.size()) ||
      std::memcmp(magic.data(), "CDF", 3) != 0) {
    return HeaderCheck::not_classic;
  }
  const char version = magic[3];
  if (version != 1 && version != 2 && version != 5) return HeaderCheck::refused;
  const bool wide = version == 5;
  HeaderCursor c(file, wide);
  NcLayout l;
  const std::uint64_t numrecs = c.count();
  const bool streaming = numrecs == (wide ? UINT64_MAX : UINT32_MAX);
  const std::uint64_t ndims = list_items(c, netcdf::kDimensionTag, 8);
  for (std::uint64_t i = 0; i < ndims && c.ok(); ++i) {
    NcDimension dim{name(c), c.count(), false};
    dim.unlimited = dim.length == 0;
    if (dim.unlimited) dim.length = streaming ? UINT64_MAX : numrecs;
    l.dims.push_back(std::move(dim));
  }
  attributes(c, &l.conventions);
  const std::uint64_t nvars = list_items(c, netcdf::kVariableTag, 24);
  for (std::uint64_t i = 0; i < nvars && c.ok(); ++i) {
    NcVariable var{name(c), 0, {}, 0};
    const std::uint64_t rank = c.items(4);
    for (std::uint64_t d = 0; d < rank && c.ok(); ++d) {
      var.dims.push_back(c.count());
      if (var.dims.back() >= l.dims.size()) c.fail();
    }
    attributes(c, nullptr);
    var.type = c.u32();
    if (nc_type_size(var.type) == 0) c.fail();
    c.count();  // the header's size of the variable, computed again from its dimensions
    var.begin = c.word(version != 1);
    l.vars.push_back(std::move(var));
  }
  if (!c.ok() || !measure_records(l)) return HeaderCheck::refused;
  layout = std::move(l);
  return HeaderCheck::layout;
}

}  // namespace kvtraj::readers

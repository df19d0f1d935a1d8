// kvtopen: the layout is chosen by the first four bytes of the file, then read whole.
#include <cerrno>
#include <cstring>

#include "kvt_io/kvt_internal.hpp"
#include "support/fatal.hpp"
#include "support/files.hpp"
#include "support/fixed_text.hpp"

namespace kvtraj {
namespace {

std::string read_magic(const kvtfile& kvtf) {
  FilePtr f = open_file(kvtf.filename, "rb");
  if (!f) kvt::die_file(kvtf, std::string("cannot open the file: ") + std::strerror(errno));
  char magic[4];
  if (!read_exact(f.get(), magic, sizeof magic)) {
    kvt::die_file(kvtf, std::ferror(f.get()) ? "cannot read the file" : "too short for a kvt file");
  }
  return std::string(magic, sizeof magic);
}

using Reader = void (*)(kvtfile&);

Reader reader_for(std::string_view magic) {
  if (magic == "KVT0" || magic == "KVT5") return kvt::read_text;
  if (magic == "KVT4" || magic == "KVT6") return kvt::read_stream;
  if (magic == "KVT2") return kvt::read_records;
  if (magic == "KVT7") return kvt::read_bounded;
  return nullptr;
}

}  // namespace

kvtfile kvtopen(std::int32_t unit, std::string_view filename) {
  kvtfile kvtf;
  kvtf.filename = std::string(trim_right(filename));
  kvtf.unit = unit;
  if (!file_exists(kvtf.filename)) die(" " + kvtf.filename + ": no such file?");
  const std::string magic = read_magic(kvtf);
  const Reader reader = reader_for(magic);
  if (!reader) die(" " + kvtf.filename + ":  unrecognised kvt file format");
  kvtf.magic = magic;
  reader(kvtf);
  if (kvtf.status == 0 && kvtf.quality > 0.0f) {
    kvtf.quality = kvt::quality_percentage(kvtf.quality, kvtf.evals);
  }
  return kvtf;
}

}  // namespace kvtraj

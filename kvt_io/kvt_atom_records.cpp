// The 16-byte atom records of KVT4 and KVT6 files.
#include <cstring>

#include "kvt_io/kvt_internal.hpp"
#include "support/fixed_text.hpp"

namespace kvtraj::kvt {
namespace {

void put_text(char* at, const std::string& text, std::size_t width) {
  const std::string field = fit_text(text, width);
  std::memcpy(at, field.data(), width);
}

std::string get_text(const char* at, std::size_t width) {
  std::string_view field(at, width);
  const std::size_t end = field.find('\0');
  if (end != std::string_view::npos) field = field.substr(0, end);
  return std::string(trim_right(field));
}

}  // namespace

std::vector<char> encode_atom_records(std::span<const AtomRecord> atoms) {
  std::vector<char> bytes(atoms.size() * kAtomRecordBytes);
  char* at = bytes.data();
  for (const AtomRecord& a : atoms) {
    std::memcpy(at, &a.number, 4);
    put_text(at + 4, a.name, 4);
    std::memcpy(at + 8, &a.resnum, 4);
    put_text(at + 12, a.resname, 3);
    put_text(at + 15, a.chain, 1);
    at += kAtomRecordBytes;
  }
  return bytes;
}

std::vector<AtomRecord> decode_atom_records(std::span<const char> bytes) {
  std::vector<AtomRecord> atoms(bytes.size() / kAtomRecordBytes);
  const char* at = bytes.data();
  for (AtomRecord& a : atoms) {
    a.number = get_i32(at);
    a.name = get_text(at + 4, 4);
    a.resnum = get_i32(at + 8);
    a.resname = get_text(at + 12, 3);
    a.chain = get_text(at + 15, 1);
    at += kAtomRecordBytes;
  }
  return atoms;
}

}  // namespace kvtraj::kvt

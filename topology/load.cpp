// Topology and index files read whole into memory and handed to their parsers. Only regular files
// of a sane size are read: a device, a pipe or a directory would never end or mean nothing here.
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>

#include "support/files.hpp"
#include "topology/text_scan.hpp"
#include "topology/topology.hpp"

namespace kvtraj {
namespace {

// 8 GiB: a PDB file of a hundred million atoms; anything larger is no topology file.
constexpr std::uint64_t kLargestFile = std::uint64_t{8} << 30;

std::string load(const std::string& path) {
  if (!file_exists(path)) topo::fail(path, "no such file");
  const std::optional<std::uint64_t> size = file_size(path);
  if (!size) topo::fail(path, "not a regular file");
  if (*size > kLargestFile) {
    topo::fail(path, std::to_string(*size) + " bytes, too large for a topology file");
  }
  FilePtr file = open_file(path, "rb");
  if (!file) topo::fail(path, std::string("cannot be opened: ") + std::strerror(errno));
  std::string text;
  try {
    text.resize(static_cast<std::size_t>(*size));
  } catch (const std::bad_alloc&) {
    topo::fail(path, "no memory to read its " + std::to_string(*size) + " bytes");
  }
  if (!read_exact(file.get(), text.data(), text.size())) {
    topo::fail(path, "cannot be read (did it shrink while read?)");
  }
  return text;
}

}  // namespace

Topology read_topology(const std::string& path) {
  const std::optional<TopologyFormat> format = topology_format(path);
  if (!format) {
    topo::fail(path,
               "unknown topology format: the known extensions are .pdb .ent .gro .psf "
               ".prmtop .parm7");
  }
  const std::string text = load(path);
  switch (*format) {
    case TopologyFormat::pdb:
      return parse_pdb(text, path);
    case TopologyFormat::gro:
      return parse_gro(text, path);
    case TopologyFormat::psf:
      return parse_psf(text, path);
    case TopologyFormat::prmtop:
      return parse_prmtop(text, path);
  }
  topo::fail(path, "unknown topology format");
}

IndexGroups read_index_groups(const std::string& path, std::int32_t natoms) {
  return parse_index_groups(load(path), path, natoms);
}

}  // namespace kvtraj

// blobpdb: converts a node trajectory of the finite-element simulation (positions in metres)
// into PDB ATOM records in ångström. Every record ("*", "Blob b, step s", the node count, the
// node lines) becomes one model ended by TER and ENDMDL; every node is atom N of GLY 1.
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "support/text_output.hpp"
#include "tools/node_trajectory.hpp"

namespace {

using kvtraj::HeaderScan;

constexpr double kMetresToAngstrom = 1e10;
constexpr int kBadInput = -1;

enum class Outcome { kEndOfInput, kBadInput, kWriteFailed };

// Writes the ATOM record of node `serial` (counted from 0 within its record, so on line
// serial + 1). Nothing is written when a value does not fit its field.
bool write_atom(std::FILE* out, const std::array<double, 3>& xyz, long long serial,
                long long step) {
  kvtraj::PositionFields fields{};
  const int wide = kvtraj::format_position(xyz, kMetresToAngstrom, fields);
  if (wide >= 0) {
    std::printf("Coordinate %g A on line %lld of step %lld does not fit the %%8.3f field\n",
                xyz[wide] * kMetresToAngstrom, serial + 1, step);
    return false;
  }
  std::fprintf(out, "ATOM%7lld  N   GLY     1    %s%s%s\n", serial, fields[0].data(),
               fields[1].data(), fields[2].data());
  return true;
}

// Reads the node count and the node lines of a record whose header has been read, and writes
// its model.
bool convert_record(std::FILE* in, std::FILE* out, long long step) {
  long long count = 0;
  if (!kvtraj::scan_node_count(in, count)) {
    std::printf("Could not read number of nodes line at step %lld\n", step);
    return false;
  }
  for (long long node = 0; node < count; ++node) {
    std::array<double, 3> xyz{};
    if (!kvtraj::scan_node_position(in, xyz)) {
      std::printf("Could not read coordinates on line %lld of step %lld\n", node + 1, step);
      return false;
    }
    if (!write_atom(out, xyz, node, step)) return false;
  }
  std::fputs("TER\nENDMDL\n", out);
  return true;
}

Outcome convert(std::FILE* in, std::FILE* out) {
  long long step = 0;
  while (!std::feof(in)) {
    const HeaderScan header = kvtraj::scan_record_header(in, step);
    if (header != HeaderScan::kRead) {
      std::printf("Error when reading '*\\nBlob x, step y\\n' line after or on step %lld\n", step);
      return header == HeaderScan::kCleanEnd ? Outcome::kEndOfInput : Outcome::kBadInput;
    }
    if (!convert_record(in, out, step)) return Outcome::kBadInput;
    if (std::ferror(out)) return Outcome::kWriteFailed;
  }
  return Outcome::kEndOfInput;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::printf("Usage: ./blobpdb [INPUT VORTAN_TRAJECTORY FILE] [OUTPUT PDB FILE]\n");
    return 1;
  }
  const kvtraj::ConverterFiles files = kvtraj::open_converter_files(argv[1], argv[2], "pdb");
  if (!files.in || !files.out) return 1;
  const auto& out = files.out;
  const Outcome outcome = convert(files.in.get(), out->get());
  // A write failure stopped the conversion or shows when the last block is flushed. Damaged
  // input keeps the records converted before the damage.
  if (!out->commit()) {
    std::printf("Error: Could not write pdb file %s: %s\n", argv[2], std::strerror(errno));
    return 1;
  }
  return outcome == Outcome::kBadInput ? kBadInput : 0;
}

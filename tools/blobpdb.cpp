// blobpdb: converts a node trajectory of the finite-element simulation (positions in metres)
// into PDB ATOM records in ångström. Every record ("*", "Blob b, step s", the node count, the
// node lines) becomes one model ended by TER and ENDMDL; every node is atom N of GLY 1.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "support/fatal.hpp"
#include "support/interrupts.hpp"
#include "tools/node_trajectory.hpp"

namespace {

constexpr int kBadInput = -1;

}  // namespace

int main(int argc, char** argv) {
  kvtraj::stop_on_signals("blobpdb");
  kvtraj::die_when_out_of_memory();
  if (argc != 3) {
    std::printf("Usage: ./blobpdb [INPUT VORTAN_TRAJECTORY FILE] [OUTPUT PDB FILE]\n");
    return 1;
  }
  const kvtraj::ConverterFiles files = kvtraj::open_converter_files(argv[1], argv[2], "pdb");
  if (!files.in || !files.out) return 1;
  const auto& out = files.out;
  const kvtraj::Conversion outcome = kvtraj::convert_to_pdb(files.in.get(), out->get());
  // A write failure stopped the conversion or shows when the last block is flushed. Damaged
  // input keeps the records converted before the damage.
  if (!out->commit()) {
    std::printf("Error: Could not write pdb file %s: %s\n", argv[2], std::strerror(errno));
    return 1;
  }
  return outcome == kvtraj::Conversion::kBadInput ? kBadInput : 0;
}

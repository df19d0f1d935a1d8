// blobxyz: converts a node trajectory of the finite-element simulation into plain coordinate
// triples, one "x y z" line per node in metres, with nothing between records. Records whose
// count line says STATIC carry no nodes and write nothing.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "support/fatal.hpp"
#include "support/files.hpp"
#include "support/interrupts.hpp"
#include "tools/node_trajectory.hpp"

namespace {

constexpr int kFailure = -1;

}  // namespace

int main(int argc, char** argv) {
  kvtraj::stop_on_signals("blobxyz");
  kvtraj::die_when_out_of_memory();
  if (argc != 3) {
    std::printf("Usage: ./blobxyz [INPUT TRAJECTORY FNAME] [XYZ OUTPUT FNAME]\n");
    return kFailure;
  }
  std::printf("traj = %s\n", argv[1]);
  std::printf("out = %s\n", argv[2]);
  kvtraj::FilePtr in = kvtraj::open_file(argv[1], "r");
  if (!in) {
    std::printf("Could not open %s for reading\n", argv[1]);
    return kFailure;
  }
  // The output replaces an existing file only once it is complete.
  const auto out = kvtraj::ReplacingFile::create(argv[2]);
  if (!out) {
    std::printf("Could not open %s for writing\n", argv[2]);
    return kFailure;
  }
  const kvtraj::Conversion outcome = kvtraj::convert_to_xyz(in.get(), out->get());
  // A write failure stopped the conversion or shows when the last block is flushed. Damaged
  // input keeps the records converted before the damage.
  if (!out->commit()) {
    std::printf("Could not write %s: %s\n", argv[2], std::strerror(errno));
    return kFailure;
  }
  if (outcome == kvtraj::Conversion::kBadInput) return kFailure;
  std::printf("Reached end of file. No errors.");
  return 0;
}

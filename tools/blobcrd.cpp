// blobcrd: converts a node trajectory of the finite-element simulation (positions in metres)
// into an AMBER formatted trajectory in nanometres. Every record ("*", "Blob b, step s", a
// state word, the node count, the node lines) becomes one frame; every node is one atom.
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
  kvtraj::stop_on_signals("blobcrd");
  kvtraj::die_when_out_of_memory();
  if (argc != 3) {
    std::printf("Usage: blobcrd [INPUT NODE TRAJECTORY FILE] [OUTPUT X FILE]\n");
    return 1;
  }
  const kvtraj::ConverterFiles files = kvtraj::open_converter_files(argv[1], argv[2], "x");
  if (!files.in || !files.out) return 1;
  const auto& out = files.out;
  std::fputs("trajectory not created by ptraj\n", out->get());
  const kvtraj::Conversion outcome = kvtraj::convert_to_amber(files.in.get(), out->get());
  // A write failure stopped the conversion or shows when the last block is flushed. Damaged
  // input keeps the frames converted before the damage.
  if (!out->commit()) {
    std::printf("Error: Could not write x file %s: %s\n", argv[2], std::strerror(errno));
    return 1;
  }
  return outcome == kvtraj::Conversion::kBadInput ? kBadInput : 0;
}

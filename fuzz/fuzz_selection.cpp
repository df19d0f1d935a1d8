// Frame selections: xparse on any text, and xopen of a real trajectory with that selection
// (the first and last frames of the selection are read).
#include <string>
#include <vector>

#include "fuzz/reader_fuzz.hpp"
#include "trajsrc/trajsrc.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kvtraj::fuzz::init();
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::int32_t first = 0, last = 0, stride = 0, error = 0;
  kvtraj::xparse(text, first, last, stride, error);
  if (text.find(')') != std::string::npos || text.size() > 40) return 0;
  kvtraj::fuzz::survive([&] {
    std::int32_t natoms = 0;
    kvtraj::trajectory traj =
        kvtraj::xopen(std::string(KVTRAJ_FUZZ_DCD) + "(" + text + ")", natoms);
    std::vector<float> coords(3 * static_cast<std::size_t>(traj.natoms));
    kvtraj::xsnap(traj, coords, traj.nsnaps);
    kvtraj::xsnap(traj, coords, 1);
    kvtraj::xclose(traj);
  });
  kvtraj::f77_molfile_init();  // releases whatever a fatal exit left open
  return 0;
}

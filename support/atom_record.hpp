// What a trajectory output or a KVT file keeps of an atom's identity: its number in the original
// system, its name, its residue's number and name, and its chain. Texts are kept whole here; the
// formats cut them to their columns (KVT atom records hold 4, 3 and 1 characters).
#pragma once

#include <cstdint>
#include <string>

#pragma GCC visibility push(default)  // the installed interface, exported by shared builds

namespace kvtraj {

struct AtomRecord {
  std::int32_t number = 0;  // 1-based position in the system the atom was selected from
  std::string name;
  std::int32_t resnum = 0;
  std::string resname;
  std::string chain;  // blank or one character in most files
};

}  // namespace kvtraj

#pragma GCC visibility pop

// For the interop script: writes NATOMS atoms, one residue each, over FRAMES frames as PDB or
// GRO (by OUT's extension), with a triclinic cell when asked. Atom i (from 0) of frame f has the
// coordinates ((7i + 13f + 5k) mod 2000) / 2 - 500 Å, k the axis; its record: number i + 1,
// name and residue name from five kinds in turn, residue number i + 1, chain A.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fmtwriters/fmtwriters.hpp"

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: write_named OUT NATOMS FRAMES [triclinic]\n");
    return 2;
  }
  const std::string out = argv[1];
  const int natoms = std::atoi(argv[2]), frames = std::atoi(argv[3]);
  const bool triclinic = argc > 4 && std::string(argv[4]) == "triclinic";
  const char* names[] = {"N", "CA", "OXT", "HD21", "CL"};
  const char* resnames[] = {"ALA", "ALA", "GLY", "ASN", "CL"};
  std::vector<kvtraj::AtomRecord> atoms;
  for (int i = 0; i < natoms; ++i)
    atoms.push_back({i + 1, names[i % 5], i + 1, resnames[i % 5], "A"});
  const auto format = kvtraj::format_from_extension(out);
  auto w =
      kvtraj::TrajectoryWriter::create(out, format.value_or(kvtraj::TrajectoryFormat::pdb), natoms,
                                       triclinic, "written by write_named", 0.0f, atoms);
  if (!w) return 1;
  std::vector<float> xyz(3 * static_cast<std::size_t>(natoms));
  for (int f = 0; f < frames; ++f) {
    for (std::size_t c = 0; c < xyz.size(); ++c) {
      const std::size_t i = c / 3, k = c % 3;
      xyz[c] = static_cast<float>((7 * i + 13 * static_cast<std::size_t>(f) + 5 * k) % 2000) / 2 -
               500.0f;
    }
    if (!w->write_frame(xyz, kvtraj::UnitCell{40, 50, 60, 80, 95, 110})) return 1;
  }
  return w->finish() ? 0 : 1;
}

// Runs the periodic-image code over an XTC file for periodic_interop.py, which compares the
// results with MDAnalysis and numpy:
//   periodic_driver whole  TRAJ BONDS OUT        every molecule made whole in every frame
//   periodic_driver nojump TRAJ OUT              every atom kept from jumping, from frame 1
//   periodic_driver guess  TRAJ FRAME TYPES OUT  bonds guessed on one frame, with its box
// BONDS and the guessed bonds are text, one 0-based pair "i j" a line; TYPES one type a line;
// the frames are written as float32, frame after frame, atom after atom, x y z.
#include <cstdio>
#include <fstream>
#include <numeric>
#include <string>
#include <vector>

#include "fmtreaders/fmtreaders.hpp"
#include "support/fatal.hpp"
#include "topology/periodic.hpp"
#include "trajsrc/trajsrc.hpp"

namespace kvtraj {
namespace {

struct Xtc {
  trajectory traj;
  std::vector<float> frame;
  explicit Xtc(const std::string& path) {
    std::int32_t natoms = 0;
    traj = xopen(path, natoms);
    frame.resize(3 * static_cast<std::size_t>(natoms));
  }
  ~Xtc() { xclose(traj); }
  // Reads frame i (from 1) and returns its box.
  PeriodicBox read(std::int32_t i) {
    xsnap(traj, frame, i);
    if (traj.status != 0) die("frame " + std::to_string(i) + " could not be read");
    const PeriodicBox box(cell_from_lengths(traj.box));
    if (!box.valid()) die("frame " + std::to_string(i) + " has no valid box");
    return box;
  }
};

std::vector<std::int32_t> all_atoms(const Xtc& xtc) {
  std::vector<std::int32_t> all(static_cast<std::size_t>(xtc.traj.natoms));
  std::iota(all.begin(), all.end(), 0);
  return all;
}

std::ifstream open_text(const std::string& path) {
  std::ifstream in(path);
  if (!in) die("cannot open " + path);
  return in;
}

void write(std::FILE* out, const std::vector<float>& values) {
  if (std::fwrite(values.data(), sizeof(float), values.size(), out) != values.size()) {
    die("write failed");
  }
}

std::FILE* create(const std::string& path) {
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (!out) die("cannot create " + path);
  return out;
}

void whole(const std::string& traj, const std::string& bonds_path, const std::string& out_path) {
  Xtc xtc(traj);
  std::vector<Bond> bonds;
  std::ifstream in = open_text(bonds_path);
  for (Bond b{}; in >> b[0] >> b[1];) bonds.push_back(b);
  const Molecules molecules(xtc.traj.natoms, bonds, all_atoms(xtc));
  std::FILE* out = create(out_path);
  for (std::int32_t i = 1; i <= xtc.traj.nsnaps; ++i) {
    const PeriodicBox box = xtc.read(i);
    make_whole(molecules, xtc.frame, box);
    write(out, xtc.frame);
  }
  std::fclose(out);
}

void nojump(const std::string& traj, const std::string& out_path) {
  Xtc xtc(traj);
  const std::vector<std::int32_t> all = all_atoms(xtc);
  std::FILE* out = create(out_path);
  xtc.read(1);
  std::vector<float> previous = xtc.frame, unwrapped = xtc.frame;
  write(out, unwrapped);
  for (std::int32_t i = 2; i <= xtc.traj.nsnaps; ++i) {
    const PeriodicBox box = xtc.read(i);
    step_unwrapped(all, xtc.frame, box, previous, unwrapped);
    write(out, unwrapped);
  }
  std::fclose(out);
}

void guess(const std::string& traj, std::int32_t frame, const std::string& types_path,
           const std::string& out_path) {
  Xtc xtc(traj);
  const PeriodicBox box = xtc.read(frame);
  Topology top;
  std::ifstream in = open_text(types_path);
  for (std::string type; in >> type;) top.names.push_back(type), top.types.push_back(type);
  std::FILE* out = create(out_path);
  for (const Bond& b : guess_bonds(top, xtc.frame, &box)) std::fprintf(out, "%d %d\n", b[0], b[1]);
  std::fclose(out);
}

}  // namespace
}  // namespace kvtraj

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  kvtraj::set_fatal_action(kvtraj::throw_fatal_error);
  kvtraj::f77_molfile_init();
  try {
    if (args.size() == 4 && args[0] == "whole") {
      kvtraj::whole(args[1], args[2], args[3]);
    } else if (args.size() == 3 && args[0] == "nojump") {
      kvtraj::nojump(args[1], args[2]);
    } else if (args.size() == 5 && args[0] == "guess") {
      kvtraj::guess(args[1], std::stoi(args[2]), args[3], args[4]);
    } else {
      std::fprintf(stderr, "usage: periodic_driver whole|nojump|guess ...\n");
      return 2;
    }
  } catch (const kvtraj::FatalError&) {
    return 1;  // the line has gone through the message sink to standard error
  }
  return 0;
}

// Periodic images of molecules split across the edges of a periodic box, in any triclinic box
// (rhombic dodecahedron, truncated octahedron) that may change every frame: the shortest image
// of a displacement, molecules (atoms joined by bonds) made whole, several molecules gathered
// around the first, and the per-atom step that keeps atoms from jumping between frames. Bonds a
// topology lacks are guessed from a frame by distance, as MDAnalysis guesses them.
//
// Threads: everything here works on its arguments; a PeriodicBox is a read-only value.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "support/unit_cell.hpp"
#include "topology/topology.hpp"

#pragma GCC visibility push(default)  // the installed interface, exported by shared builds

namespace kvtraj {

enum class PbcMode { none, whole, nojump };

// A periodic box: its vectors as rows (Å, support/unit_cell.hpp) and what the shortest image
// needs of them. The shortest image is searched in a reduced basis of the same lattice (short,
// nearly orthogonal vectors), so that skewed cells cost no more than brick-shaped ones.
class PeriodicBox {
 public:
  explicit PeriodicBox(const UnitCell& cell);
  // All three lengths positive and finite, the vectors independent.
  bool valid() const { return valid_; }
  const std::array<double, 9>& vectors() const { return rows_; }
  // `d` minus the lattice vector nearest to it: the shortest image of a displacement, exact in
  // any triclinic box (not only the brick-shaped reduction).
  std::array<double, 3> shortest(std::array<double, 3> d) const;
  // The lattice vector that `shortest` subtracts from `d`; zero in an invalid box.
  std::array<double, 3> image_shift(std::array<double, 3> d) const;
  // The fractional coordinates of a position along the box vectors (rows of vectors()).
  std::array<double, 3> fractional(std::array<double, 3> x) const;

 private:
  std::array<double, 9> rows_{};
  std::array<double, 9> inverse_{};  // of the row matrix, for fractional coordinates
  std::array<double, 9> reduced_{};  // rows: a reduced basis of the lattice (obtuse superbase)
  std::array<double, 9> reduced_inverse_{};
  std::array<std::array<double, 3>, 26> steps_{};  // i·v1 + j·v2 + k·v3, i, j, k in -1..1
  double quarter_shortest_sq_ = 0.0;               // (half the shortest lattice vector)^2
  bool valid_ = false;
};

// Bonds by distance, as MDAnalysis's guess_bonds makes them: atoms i and j are bonded when their
// shortest distance under `box` (or the plain distance without one) is below
// 0.55 × (r_i + r_j) and above 0.1 Å, r the van der Waals radius of the atom's type (MDAnalysis's
// table, keyed by the type exactly as written; a type it lacks counts as 0, with one warning
// naming it). `coords` holds 3 × natoms reals. A cell list keeps it linear in the atom count.
// With `around` (0-based atoms), only the bonds of the molecules that hold those atoms are
// guessed, at a cost that grows with those molecules: what a selection of a protein in water
// needs. The pairs come sorted and unique, each as (lower, higher) 0-based indices. A coordinate
// count that does not match, a position that is not finite, an invalid box and an atom of
// `around` outside the system end through `die`.
using Bond = std::array<std::int32_t, 2>;
std::vector<Bond> guess_bonds(const Topology& top, std::span<const float> coords,
                              const PeriodicBox* box, std::span<const std::int32_t> around = {});

// The molecules (connected groups of the bond graph) that hold at least one of a set of atoms,
// each with the order in which make_whole places its atoms: every atom after the first is
// placed next to an atom placed before it, across the bond that joins them.
class Molecules {
 public:
  Molecules(std::int32_t natoms, std::span<const std::array<std::int32_t, 2>> bonds,
            std::span<const std::int32_t> atoms);
  std::int32_t count() const { return static_cast<std::int32_t>(starts_.size()) - 1; }
  // The atoms of the system the bonds were given for: frames hold at least as many.
  std::int32_t natoms() const { return natoms_; }
  // Molecule m's atoms in placing order (the first is where the molecule stays).
  std::span<const std::int32_t> atoms(std::int32_t m) const;
  // For each entry of atoms(m) after the first, the atom it is placed next to (same order).
  std::span<const std::int32_t> anchors(std::int32_t m) const;

 private:
  std::vector<std::int32_t> order_;   // atoms of all molecules, molecule after molecule
  std::vector<std::int32_t> anchor_;  // parallel to order_; -1 at each molecule's first atom
  std::vector<std::int32_t> starts_;  // molecule m is order_[starts_[m] .. starts_[m + 1])
  std::int32_t natoms_ = 0;
};

// Makes every molecule whole in `frame` (3 × natoms of the whole system), in place: each atom is
// moved to the image nearest to the atom it is placed next to. The first atom of each molecule
// stays where it is.
void make_whole(const Molecules& molecules, std::span<float> frame, const PeriodicBox& box);

// Moves each molecule after the first (already whole) by the lattice vector that brings its
// centre of geometry nearest to the first molecule's centre.
void gather(const Molecules& molecules, std::span<float> frame, const PeriodicBox& box);

// Whether molecule m, as it stands in `frame`, is split across the box: some atom is not at
// the image nearest to the atom it is placed next to, so make_whole would move it. (A test of
// the molecule's extent in fractional coordinates would also flag whole molecules: a peptide
// of 22 Å spans 0.66 of a 35 Å dodecahedron along its first vector.)
bool looks_split(const Molecules& molecules, std::int32_t m, std::span<const float> frame,
                 const PeriodicBox& box);

// One step of atoms kept from jumping: for each k, unwrapped[k] (3 reals) moves by the shortest
// image under `box` (the current frame's) of the displacement of atom atoms[k] from its position
// in the previous frame as read, `previous[k]`; `previous` then takes the current positions.
// Taking each displacement under the current box keeps this right when the box changes.
// The first frame starts both arrays (as read, or made whole first). Frames cut into runs of
// frames can be unwrapped apart: a run started from its first frame w as read is joined to the
// run before it by adding, to every position of atom k, u - w, where u is one step from the end
// of the run before (its last `previous` and `unwrapped`) to w.
void step_unwrapped(std::span<const std::int32_t> atoms, std::span<const float> frame,
                    const PeriodicBox& box, std::span<float> previous, std::span<float> unwrapped);

}  // namespace kvtraj

#pragma GCC visibility pop

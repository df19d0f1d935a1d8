// A cell list for pair searches within a cutoff: the atoms of a frame sorted into cells at least
// the cutoff thick, in fractional coordinates over the unit cell of a periodic box (any
// triclinic box: a cell's thickness is measured between its lattice planes) or over the bounding
// box of the atoms without one. Every pair of atoms closer than the cutoff then lies in one
// cell or in two neighbouring ones, so a search visits O(atoms) pairs at a fixed density.
//
// Internal to the topology module (the bond guesser); a grid is a read-only value once built.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "topology/periodic.hpp"

namespace kvtraj {

class CellGrid {
 public:
  // `coords` holds 3 reals per atom, all finite; `box`, when given, is valid.
  CellGrid(std::span<const float> coords, double cutoff, const PeriodicBox* box);

  // Calls visit(i, j) once for every pair of distinct atoms in the same cell or in neighbouring
  // cells (across the box edges when periodic). A box fewer than three cells across has cells
  // that neighbour one another on both sides; each such pair is still visited once.
  template <class Visit>
  void for_each_pair(Visit&& visit) const {
    std::array<std::size_t, 27> near{};
    for (std::size_t c = 0; c < cell_count(); ++c) {
      const std::size_t count = neighbours(c, near);
      for (std::size_t n = 0; n < count; ++n) {
        const std::size_t other = near[n];
        if (other < c) continue;
        const auto here = members(c), there = members(other);
        for (std::size_t a = 0; a < here.size(); ++a) {
          for (std::size_t b = other == c ? a + 1 : 0; b < there.size(); ++b) {
            visit(here[a], there[b]);
          }
        }
      }
    }
  }

  // Calls visit(j) for every atom j other than `atom` in its cell or in the neighbouring ones.
  template <class Visit>
  void for_each_near(std::int32_t atom, Visit&& visit) const {
    std::array<std::size_t, 27> near{};
    const std::size_t count = neighbours(cell_of_[static_cast<std::size_t>(atom)], near);
    for (std::size_t n = 0; n < count; ++n) {
      for (const std::int32_t j : members(near[n])) {
        if (j != atom) visit(j);
      }
    }
  }

 private:
  std::size_t cell_count() const { return start_.size() - 1; }
  std::span<const std::int32_t> members(std::size_t cell) const {
    return std::span<const std::int32_t>(atoms_).subspan(start_[cell],
                                                         start_[cell + 1] - start_[cell]);
  }
  // The distinct cells next to `cell` (itself included) into `out`; returns their count.
  std::size_t neighbours(std::size_t cell, std::array<std::size_t, 27>& out) const;

  std::array<std::size_t, 3> shape_{1, 1, 1};
  bool periodic_ = false;
  std::vector<std::size_t> start_;    // cell c holds atoms_[start_[c] .. start_[c + 1])
  std::vector<std::int32_t> atoms_;   // atom indices, cell after cell
  std::vector<std::size_t> cell_of_;  // each atom's cell
};

}  // namespace kvtraj

// Periodic unit cells: the six numbers of a cell (lengths in Å, angles in degrees) as the
// trajectory formats store them, and the three box vectors of a cell in the layout GROMACS and
// MDAnalysis use (a along x, b in the xy plane, c anywhere above it), from which periodic images
// are computed.
#pragma once

#include <array>
#include <span>

#pragma GCC visibility push(default)  // the installed interface, exported by shared builds

namespace kvtraj {

struct UnitCell {
  float a = 0.0f, b = 0.0f, c = 0.0f;                // Å
  float alpha = 90.0f, beta = 90.0f, gamma = 90.0f;  // degrees
};

// The cell of the six values a DCD unit-cell record holds in file order. The angle slots hold
// cosines in files of MDTraj, NAMD and recent CHARMM, and degrees in older ones: values within
// [-1, 1] are taken as cosines.
UnitCell cell_from_dcd(std::span<const float, 6> values);
// The cell of six values a, b, c, alpha, beta, gamma (AMBER box lines, binpos boxes); angles of
// 0 (a box line with lengths only) mean 90 degrees.
UnitCell cell_from_lengths(std::span<const float, 6> values);

// cos of an angle in degrees, exactly 0 for right angles so that boxes survive unchanged.
double cosine_of(float degrees);

// The box vectors of `cell` as rows (a, b, c; Å): a = (a, 0, 0), b in the xy plane.
std::array<double, 9> box_vectors(const UnitCell& cell);
// The other way: the cell of three box vectors given as rows (vector k at 3k..3k+2), lengths in
// the unit of the vectors; an angle with a zero vector is 90.
UnitCell cell_from_box_vectors(const std::array<double, 9>& rows);

}  // namespace kvtraj

#pragma GCC visibility pop

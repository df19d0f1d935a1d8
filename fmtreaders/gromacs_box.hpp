// Inside the format readers: the GROMACS box of XTC and TRR frames (three vectors, nm) turned
// into the cell the readers hand over.
#pragma once

#include <array>
#include <span>

namespace kvtraj::readers {

// The box rows (vector k at 3k..3k+2, nm) as a, b, c (Å) and alpha, beta, gamma (degrees) in
// cell[0..5]; an angle with a zero vector (no box) is 90.
void cell_of_box_vectors(const std::array<double, 9>& rows, std::span<float> cell);

}  // namespace kvtraj::readers

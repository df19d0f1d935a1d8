#include "fmtreaders/gromacs_box.hpp"

#include "support/unit_cell.hpp"

namespace kvtraj::readers {

void cell_of_box_vectors(const std::array<double, 9>& m, std::span<float> cell) {
  std::array<double, 9> angstrom{};
  for (std::size_t k = 0; k < 9; ++k) angstrom[k] = 10.0 * m[k];
  const UnitCell c = cell_from_box_vectors(angstrom);
  const float out[6] = {c.a, c.b, c.c, c.alpha, c.beta, c.gamma};
  for (std::size_t k = 0; k < 6; ++k) cell[k] = out[k];
}

}  // namespace kvtraj::readers

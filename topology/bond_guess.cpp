// Bonds guessed by distance, as MDAnalysis 2.4's guess_bonds (topology/guessers.py) makes them:
// its van der Waals radii (topology/tables.py), fudge factor 0.55, bonds longer than 0.1 Å, the
// atom type as the key of the table. A type the table lacks is fatal, as MDAnalysis raises.
#include <algorithm>
#include <cmath>
#include <string>
#include <string_view>
#include <utility>

#include "support/fatal.hpp"
#include "topology/cell_grid.hpp"
#include "topology/periodic.hpp"

namespace kvtraj {
namespace {

constexpr double kFudge = 0.55;
constexpr double kLowerBound = 0.1;  // Å

// MDAnalysis.topology.tables.TABLE_VDWRADII (Bondi; Rowland and Taylor; Mantina et al.), Å.
constexpr std::pair<std::string_view, double> kRadii[] = {
    {"H", 1.10},  {"HE", 1.40}, {"LI", 1.82}, {"BE", 1.53}, {"B", 1.92},  {"C", 1.70},
    {"N", 1.55},  {"O", 1.52},  {"F", 1.47},  {"NE", 1.54}, {"NA", 2.27}, {"MG", 1.73},
    {"AL", 1.84}, {"SI", 2.10}, {"P", 1.80},  {"S", 1.80},  {"CL", 1.75}, {"AR", 1.88},
    {"K", 2.75},  {"CA", 2.31}, {"NI", 1.63}, {"CU", 1.40}, {"ZN", 1.39}, {"GA", 1.87},
    {"GE", 2.11}, {"AA", 1.85}, {"SE", 1.90}, {"BR", 1.85}, {"KR", 2.02}, {"RR", 3.03},
    {"SR", 2.49}, {"PD", 1.63}, {"AG", 1.72}, {"CD", 1.58}, {"IN", 1.93}, {"SN", 2.17},
    {"SB", 2.06}, {"TE", 2.06}, {"I", 1.98},  {"XE", 2.16}, {"CS", 3.43}, {"BA", 2.68},
    {"PT", 1.75}, {"AU", 1.66}, {"HH", 1.55}, {"TL", 1.96}, {"PB", 2.02}, {"BI", 2.07},
    {"PO", 1.97}, {"AT", 2.02}, {"RN", 2.20}, {"FR", 3.48}, {"RA", 2.83}, {"U", 1.86},
};

// The radius of each atom, looked up once per distinct type.
std::vector<double> atom_radii(const Topology& top) {
  const auto& types = top.types.values();
  std::vector<double> of_type(types.size(), 0.0);
  std::string missing;
  for (std::size_t t = 0; t < types.size(); ++t) {
    const auto* found = std::find_if(std::begin(kRadii), std::end(kRadii),
                                     [&](const auto& entry) { return entry.first == types[t]; });
    if (found != std::end(kRadii)) {
      of_type[t] = found->second;
    } else {
      missing += (missing.empty() ? "" : ", ") + ("'" + types[t] + "'");
    }
  }
  if (!missing.empty()) {
    die("guess_bonds: no van der Waals radius for the atom types " + missing +
        " (types are looked up as written, e.g. C, N, O, H, S)");
  }
  std::vector<double> radii(top.types.size());
  for (std::size_t i = 0; i < radii.size(); ++i) radii[i] = of_type[top.types.indices()[i]];
  return radii;
}

void check_inputs(const Topology& top, std::span<const float> coords, const PeriodicBox* box) {
  const auto natoms = static_cast<std::size_t>(top.natoms());
  if (top.types.size() != natoms) {
    die("guess_bonds: " + std::to_string(top.types.size()) + " atom types for " +
        std::to_string(natoms) + " atoms");
  }
  if (coords.size() != 3 * natoms) {
    die("guess_bonds: " + std::to_string(coords.size()) + " coordinates for " +
        std::to_string(natoms) + " atoms");
  }
  if (box != nullptr && !box->valid()) die("guess_bonds: the periodic box is not a valid cell");
  for (std::size_t i = 0; i < coords.size(); ++i) {
    if (!std::isfinite(coords[i])) {
      die("guess_bonds: atom " + std::to_string(i / 3 + 1) + " has a position that is not finite");
    }
  }
}

}  // namespace

std::vector<std::array<std::int32_t, 2>> guess_bonds(const Topology& top,
                                                     std::span<const float> coords,
                                                     const PeriodicBox* box) {
  check_inputs(top, coords, box);
  std::vector<std::array<std::int32_t, 2>> bonds;
  if (top.natoms() == 0) return bonds;
  const std::vector<double> radii = atom_radii(top);
  const double cutoff = 2.0 * kFudge * *std::max_element(radii.begin(), radii.end());
  const CellGrid grid(coords, cutoff, box);
  grid.for_each_pair([&](std::int32_t i, std::int32_t j) {
    const auto a = 3 * static_cast<std::size_t>(i), b = 3 * static_cast<std::size_t>(j);
    std::array<double, 3> d{double(coords[b]) - coords[a], double(coords[b + 1]) - coords[a + 1],
                            double(coords[b + 2]) - coords[a + 2]};
    if (box != nullptr) d = box->shortest(d);
    const double distance = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    const double limit =
        kFudge * (radii[static_cast<std::size_t>(i)] + radii[static_cast<std::size_t>(j)]);
    if (distance > kLowerBound && distance < limit) {
      bonds.push_back({std::min(i, j), std::max(i, j)});
    }
  });
  std::sort(bonds.begin(), bonds.end());
  return bonds;
}

}  // namespace kvtraj

// Bonds guessed by distance, as MDAnalysis 2.4's guess_bonds (topology/guessers.py) makes them:
// its van der Waals radii (topology/tables.py), fudge factor 0.55, bonds longer than 0.1 Å, the
// atom type as the key of the table. A type the table lacks has radius 0 and draws a warning
// (MDAnalysis raises; a virtual site or a coarse-grained bead far from the atoms of interest
// must not stop an analysis of a protein).
#include <algorithm>
#include <cmath>
#include <string>
#include <string_view>
#include <utility>

#include "support/fatal.hpp"
#include "support/messages.hpp"
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

// The radius of each type, 0 for a type the table lacks.
std::vector<double> type_radii(const std::vector<std::string>& types) {
  std::vector<double> radii(types.size(), 0.0);
  for (std::size_t t = 0; t < types.size(); ++t) {
    const auto* found = std::find_if(std::begin(kRadii), std::end(kRadii),
                                     [&](const auto& entry) { return entry.first == types[t]; });
    if (found != std::end(kRadii)) radii[t] = found->second;
  }
  return radii;
}

// One warning naming the types without a radius among the atoms whose bonds were guessed.
void warn_unknown_types(const Topology& top, const std::vector<double>& of_type,
                        const std::vector<char>& looked_at) {
  std::vector<char> named(of_type.size(), 0);
  std::string missing;
  for (std::size_t i = 0; i < looked_at.size(); ++i) {
    const std::size_t t = top.types.indices()[i];
    if (!looked_at[i] || of_type[t] > 0.0 || named[t]) continue;
    named[t] = 1;
    missing += (missing.empty() ? "'" : ", '") + top.types.values()[t] + "'";
  }
  if (missing.empty()) return;
  warn("guess_bonds: no van der Waals radius for the atom types " + missing +
       " (types are looked up as written, e.g. C, N, O, H, S); they are taken as 0");
}

void check_inputs(const Topology& top, std::span<const float> coords, const PeriodicBox* box,
                  std::span<const std::int32_t> around) {
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
  for (const std::int32_t a : around) {
    if (a < 0 || a >= top.natoms())
      die("guess_bonds: atom index " + std::to_string(a) + " out of range");
  }
  for (std::size_t i = 0; i < coords.size(); ++i) {
    if (!std::isfinite(coords[i])) {
      die("guess_bonds: atom " + std::to_string(i / 3 + 1) + " has a position that is not finite");
    }
  }
}

// The distance rule, on shortest images when periodic.
class BondRule {
 public:
  BondRule(const Topology& top, std::span<const float> coords, const PeriodicBox* box,
           const std::vector<double>& of_type)
      : top_(top), coords_(coords), box_(box), of_type_(of_type) {}

  double radius(std::int32_t i) const {
    return of_type_[top_.types.indices()[static_cast<std::size_t>(i)]];
  }
  bool bonded(std::int32_t i, std::int32_t j) const {
    const auto a = 3 * static_cast<std::size_t>(i), b = 3 * static_cast<std::size_t>(j);
    std::array<double, 3> d{double(coords_[b]) - coords_[a],
                            double(coords_[b + 1]) - coords_[a + 1],
                            double(coords_[b + 2]) - coords_[a + 2]};
    if (box_ != nullptr) d = box_->shortest(d);
    const double distance = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    return distance > kLowerBound && distance < kFudge * (radius(i) + radius(j));
  }

 private:
  const Topology& top_;
  std::span<const float> coords_;
  const PeriodicBox* box_;
  const std::vector<double>& of_type_;
};

// Breadth first from the seeds: each atom reached is searched for its bonded neighbours.
void guess_around(const CellGrid& grid, const BondRule& rule, std::span<const std::int32_t> seeds,
                  std::vector<char>& reached, std::vector<Bond>& bonds) {
  std::vector<std::int32_t> queue;
  for (const std::int32_t a : seeds) {
    if (!reached[static_cast<std::size_t>(a)]) queue.push_back(a);
    reached[static_cast<std::size_t>(a)] = 1;
  }
  for (std::size_t next = 0; next < queue.size(); ++next) {
    const std::int32_t i = queue[next];
    grid.for_each_near(i, [&](std::int32_t j) {
      if (!rule.bonded(i, j)) return;
      bonds.push_back({std::min(i, j), std::max(i, j)});
      if (!reached[static_cast<std::size_t>(j)]) queue.push_back(j);
      reached[static_cast<std::size_t>(j)] = 1;
    });
  }
}

}  // namespace

std::vector<Bond> guess_bonds(const Topology& top, std::span<const float> coords,
                              const PeriodicBox* box, std::span<const std::int32_t> around) {
  check_inputs(top, coords, box, around);
  std::vector<Bond> bonds;
  if (top.natoms() == 0) return bonds;
  const std::vector<double> of_type = type_radii(top.types.values());
  const double cutoff =
      std::max(2.0 * kFudge * *std::max_element(of_type.begin(), of_type.end()), kLowerBound);
  const CellGrid grid(coords, cutoff, box);
  const BondRule rule(top, coords, box, of_type);
  std::vector<char> looked_at(static_cast<std::size_t>(top.natoms()), around.empty() ? 1 : 0);
  if (around.empty()) {
    grid.for_each_pair([&](std::int32_t i, std::int32_t j) {
      if (rule.bonded(i, j)) bonds.push_back({std::min(i, j), std::max(i, j)});
    });
  } else {
    guess_around(grid, rule, around, looked_at, bonds);
  }
  warn_unknown_types(top, of_type, looked_at);
  std::sort(bonds.begin(), bonds.end());
  bonds.erase(std::unique(bonds.begin(), bonds.end()), bonds.end());
  return bonds;
}

}  // namespace kvtraj

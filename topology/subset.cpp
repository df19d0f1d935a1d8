#include <algorithm>

#include "topology/topology.hpp"

namespace kvtraj {
namespace {

void copy_column(const TextColumn& from, std::span<const std::int32_t> atoms, TextColumn& to) {
  to.reserve(atoms.size());
  for (const std::int32_t a : atoms) to.push_back(from[static_cast<std::size_t>(a)]);
}

template <class T>
std::vector<T> pick(const std::vector<T>& from, std::span<const std::int32_t> atoms,
                    std::size_t per_atom = 1) {
  std::vector<T> out;
  if (from.empty()) return out;
  out.reserve(atoms.size() * per_atom);
  for (const std::int32_t a : atoms) {
    const auto at = from.begin() + static_cast<std::ptrdiff_t>(a * per_atom);
    out.insert(out.end(), at, at + static_cast<std::ptrdiff_t>(per_atom));
  }
  return out;
}

}  // namespace

Topology subset(const Topology& top, std::span<const std::int32_t> atoms) {
  Topology out;
  out.source = top.source;
  out.format = top.format;
  copy_column(top.names, atoms, out.names);
  copy_column(top.types, atoms, out.types);
  copy_column(top.elements, atoms, out.elements);
  copy_column(top.resnames, atoms, out.resnames);
  copy_column(top.chains, atoms, out.chains);
  copy_column(top.segids, atoms, out.segids);
  out.masses = pick(top.masses, atoms);
  out.charges = pick(top.charges, atoms);
  out.resids = pick(top.resids, atoms);
  out.icodes = pick(top.icodes, atoms);
  out.coordinates = pick(top.coordinates, atoms, 3);
  out.cell = top.cell;
  out.has_bonds = top.has_bonds;
  // The new index of an old atom, or -1 for atoms left out.
  std::vector<std::int32_t> renumbered(static_cast<std::size_t>(top.natoms()), -1);
  for (std::size_t k = 0; k < atoms.size(); ++k) {
    renumbered[static_cast<std::size_t>(atoms[k])] = static_cast<std::int32_t>(k);
  }
  for (const auto& [i, j] : top.bonds) {
    const std::int32_t a = renumbered[static_cast<std::size_t>(i)];
    const std::int32_t b = renumbered[static_cast<std::size_t>(j)];
    if (a >= 0 && b >= 0) out.bonds.push_back({std::min(a, b), std::max(a, b)});
  }
  return out;
}

}  // namespace kvtraj

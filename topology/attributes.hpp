// Inside the topology readers: the attributes they fill alike once the atoms are read (guessed
// types, elements and masses, constant columns, bonds in order) and the element symbols.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "topology/topology.hpp"

namespace kvtraj::topo {

// The symbol of the element `text` names in any case ("CL", "cl" -> "Cl"), or empty.
std::string_view element_symbol(std::string_view text);
// The symbol of atomic number `z`, or empty outside 1..118.
std::string_view element_of_number(std::int64_t z);

// `to` gets f(text) for the text of each atom in `from`; f runs once per distinct text.
template <class F>
void derive_column(const TextColumn& from, TextColumn& to, F f) {
  constexpr std::uint32_t kUnseen = 0xffffffff;
  std::vector<std::uint32_t> id_in_to(from.values().size(), kUnseen);
  to.reserve(from.size());
  for (const std::uint32_t id : from.indices()) {
    if (id_in_to[id] != kUnseen) {
      to.push_back_id(id_in_to[id]);
    } else {
      to.push_back(f(from.values()[id]));
      id_in_to[id] = to.indices().back();
    }
  }
}

// Types guessed from the names (guess_type), elements from the names (guess_element), masses
// from the types (guess_mass).
void types_from_names(Topology& top);
void elements_from_names(Topology& top);
void masses_from_types(Topology& top);
// `atoms` entries of `value`.
void fill_column(TextColumn& column, std::size_t atoms, std::string_view value);

// Adds the bond between 0-based atoms a and b (in any order; a bond of an atom with itself is
// dropped). finish_bonds sorts the bonds and removes repeats.
void add_bond(Topology& top, std::int32_t a, std::int32_t b);
void finish_bonds(Topology& top);

// `cell`, or nothing when its three lengths are 0 (MDAnalysis's "no unit cell").
std::optional<UnitCell> cell_unless_empty(const UnitCell& cell);

// "Warning: SOURCE: what" (with ":LINE" when line > 0) through the message sink.
void warn_about(const std::string& source, std::size_t line, std::string_view what);

// The largest atom count a topology may hold (natoms() is 32-bit).
inline constexpr std::int64_t kMaxAtoms = 2147483647;

}  // namespace kvtraj::topo

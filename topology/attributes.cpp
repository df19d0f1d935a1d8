#include "topology/attributes.hpp"

#include <algorithm>
#include <string>

#include "support/messages.hpp"

namespace kvtraj::topo {

void types_from_names(Topology& top) {
  derive_column(top.names, top.types, [](std::string_view name) { return guess_type(name); });
}

void elements_from_names(Topology& top) {
  derive_column(top.names, top.elements, [](std::string_view name) { return guess_element(name); });
}

void masses_from_types(Topology& top) {
  std::vector<float> of_type;
  of_type.reserve(top.types.values().size());
  for (const std::string& type : top.types.values()) of_type.push_back(guess_mass(type));
  top.masses.clear();
  top.masses.reserve(top.types.size());
  for (const std::uint32_t id : top.types.indices()) top.masses.push_back(of_type[id]);
}

void fill_column(TextColumn& column, std::size_t atoms, std::string_view value) {
  column.reserve(atoms);
  for (std::size_t i = 0; i < atoms; ++i) column.push_back(value);
}

void add_bond(Topology& top, std::int32_t a, std::int32_t b) {
  if (a == b) return;
  top.bonds.push_back({std::min(a, b), std::max(a, b)});
}

void finish_bonds(Topology& top) {
  std::sort(top.bonds.begin(), top.bonds.end());
  top.bonds.erase(std::unique(top.bonds.begin(), top.bonds.end()), top.bonds.end());
}

std::optional<UnitCell> cell_unless_empty(const UnitCell& cell) {
  if (cell.a == 0.0f && cell.b == 0.0f && cell.c == 0.0f) return std::nullopt;
  return cell;
}

void warn_about(const std::string& source, std::size_t line, std::string_view what) {
  std::string text("Warning: ");
  text.append(source);
  if (line > 0) text.append(":").append(std::to_string(line));
  text.append(": ").append(what);
  warn(text);
}

}  // namespace kvtraj::topo

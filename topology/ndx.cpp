// GROMACS index files: groups headed "[ name ]", each followed by whitespace-separated atom
// numbers from 1, any number a line.
#include <string>
#include <string_view>

#include "topology/text_scan.hpp"
#include "topology/topology.hpp"

namespace kvtraj {

const std::vector<std::int32_t>* IndexGroups::find(std::string_view name) const {
  for (const auto& [group, atoms] : groups) {
    if (group == name) return &atoms;
  }
  return nullptr;
}

IndexGroups parse_index_groups(std::string_view text, const std::string& source,
                               std::int32_t natoms) {
  IndexGroups out;
  topo::Lines lines(text);
  std::string_view line;
  while (lines.next(line)) {
    const std::string_view content = topo::trim(line);
    if (content.empty()) continue;
    if (content.front() == '[') {
      if (content.size() < 2 || content.back() != ']') {
        topo::fail(source, lines.number(), "a group header without its closing ]");
      }
      const std::string_view name = topo::trim(content.substr(1, content.size() - 2));
      if (name.empty()) topo::fail(source, lines.number(), "a group without a name");
      out.groups.emplace_back(std::string(name), std::vector<std::int32_t>());
      continue;
    }
    if (out.groups.empty()) {
      topo::fail(source, lines.number(), "atom numbers before the first [ group ] header");
    }
    auto& [name, atoms] = out.groups.back();
    std::size_t pos = 0;
    for (std::string_view field = topo::next_field(content, pos); !field.empty();
         field = topo::next_field(content, pos)) {
      const auto atom = topo::parse_integer(field);
      if (!atom) topo::fail(source, lines.number(), topo::quote(field) + " is not an atom number");
      if (*atom < 1 || *atom > natoms) {
        topo::fail(source, lines.number(),
                   "group " + name + " holds atom " + std::to_string(*atom) + ", outside 1.." +
                       std::to_string(natoms));
      }
      atoms.push_back(static_cast<std::int32_t>(*atom - 1));
    }
  }
  return out;
}

}  // namespace kvtraj

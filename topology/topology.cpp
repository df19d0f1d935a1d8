#include "topology/topology.hpp"

#include <algorithm>
#include <cctype>

namespace kvtraj {

std::uint32_t TextColumn::id_of(std::string_view text) {
  const auto found = ids_.find(text);
  if (found != ids_.end()) return found->second;
  const auto id = static_cast<std::uint32_t>(values_.size());
  values_.emplace_back(text);
  ids_.emplace(values_.back(), id);
  return id;
}

void TextColumn::push_back(std::string_view text) {
  // Neighbouring atoms mostly share residue names, segments, chains: skip the hash for those.
  if (!of_.empty() && values_[of_.back()] == text) {
    of_.push_back(of_.back());
    return;
  }
  of_.push_back(id_of(text));
}

void TextColumn::set(std::size_t atom, std::string_view text) {
  of_[atom] = id_of(text);
}

std::vector<AtomRecord> Topology::records(std::span<const std::int32_t> atoms) const {
  std::vector<AtomRecord> out;
  out.reserve(atoms.size());
  for (const std::int32_t a : atoms) {
    const auto i = static_cast<std::size_t>(a);
    out.push_back(AtomRecord{a + 1, std::string(names[i]), resids[i], std::string(resnames[i]),
                             std::string(chains[i])});
  }
  return out;
}

std::optional<TopologyFormat> topology_format(std::string_view path) {
  const std::size_t dot = path.find_last_of('.');
  if (dot == std::string_view::npos) return std::nullopt;
  std::string ext(path.substr(dot + 1));
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (ext == "pdb" || ext == "ent") return TopologyFormat::pdb;
  if (ext == "gro") return TopologyFormat::gro;
  if (ext == "psf") return TopologyFormat::psf;
  if (ext == "prmtop" || ext == "parm7") return TopologyFormat::prmtop;
  return std::nullopt;
}

}  // namespace kvtraj

// The atoms of a molecular system as a topology file describes them: per atom its name, type,
// element, mass, charge, residue (name, number, insertion code), chain and segment, the bonds
// between atoms, and the positions and unit cell when the file holds them. Read from PDB, GRO,
// CHARMM/NAMD/X-PLOR PSF and AMBER PRMTOP (parm7) files; the named atom groups of GROMACS index
// files (.ndx) are read beside them. What a format lacks is guessed as MDAnalysis guesses it:
// types and elements from the atom names, masses from the types. Bonds a format lacks are not
// guessed here (that needs a frame and its box: topology/periodic.hpp).
//
// Every reader treats its file as untrusted: a count is checked against what the file holds
// before anything is sized by it, and a damaged file, or one not of its format, ends through
// `die` (support/fatal.hpp) with one line naming the file and what is wrong. The parsers read
// from memory, so that the fuzz targets need no files.
//
// Threads: a Topology is a plain value; readers keep no state between calls.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "support/atom_record.hpp"
#include "support/unit_cell.hpp"

#pragma GCC visibility push(default)  // the installed interface, exported by shared builds

namespace kvtraj {

// A text attribute of every atom, kept as an index into the attribute's distinct values: a
// million atoms share a few hundred names, and a selection tests each distinct value once.
class TextColumn {
 public:
  std::size_t size() const { return of_.size(); }
  std::string_view operator[](std::size_t atom) const { return values_[of_[atom]]; }
  // The distinct texts, in order of first appearance, and each atom's index into them.
  const std::vector<std::string>& values() const { return values_; }
  const std::vector<std::uint32_t>& indices() const { return of_; }
  void push_back(std::string_view text);
  // Appends an atom whose text is values()[id] (id < values().size()), without looking it up.
  void push_back_id(std::uint32_t id) { of_.push_back(id); }
  void reserve(std::size_t atoms) { of_.reserve(atoms); }
  // Replaces atom `atom`'s text.
  void set(std::size_t atom, std::string_view text);

 private:
  std::uint32_t id_of(std::string_view text);
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };
  std::vector<std::string> values_;
  std::vector<std::uint32_t> of_;
  std::unordered_map<std::string, std::uint32_t, Hash, std::equal_to<>> ids_;
};

struct Topology {
  std::string source;  // the file it was read from
  std::string format;  // "PDB", "GRO", "PSF", "PRMTOP"
  // Types as the file gives them (guessed from the names where it has none); elements as
  // symbols ("C", "Cl"), "" for none; chains "" and segids "SYSTEM" where the format has none.
  TextColumn names, types, elements, resnames, chains, segids;
  std::vector<float> masses;         // amu, read or guessed
  std::vector<float> charges;        // e; empty when the format holds none
  std::vector<std::int32_t> resids;  // residue numbers, unfolded where the file wraps them
  std::vector<char> icodes;          // insertion codes (PDB, PSF), ' ' for none
  std::vector<std::array<std::int32_t, 2>> bonds;  // 0-based pairs, first < second, sorted, once
  bool has_bonds = false;  // the file lists bonds (PSF, PRMTOP; PDB: CONECT records that resolve)
  std::optional<UnitCell> cell;    // PDB CRYST1, the GRO box line
  std::vector<float> coordinates;  // 3N in Å when the file holds positions, else empty

  std::int32_t natoms() const { return static_cast<std::int32_t>(names.size()); }
  // The identity of each of `atoms` (0-based indices), for trajectory outputs and KVT files.
  std::vector<AtomRecord> records(std::span<const std::int32_t> atoms) const;
};

enum class TopologyFormat { pdb, gro, psf, prmtop };
// By extension: .pdb .ent, .gro, .psf, .prmtop .parm7 (case-insensitive); nothing otherwise.
std::optional<TopologyFormat> topology_format(std::string_view path);

// Reads the topology file `path` in the format of its extension.
Topology read_topology(const std::string& path);
// The parsers behind it; `source` names the file in messages.
Topology parse_pdb(std::string_view text, const std::string& source);
Topology parse_gro(std::string_view text, const std::string& source);
Topology parse_psf(std::string_view text, const std::string& source);
Topology parse_prmtop(std::string_view text, const std::string& source);

// The groups of a GROMACS index file, in file order: each a name and its atoms as 0-based
// indices, as written (an atom may appear twice). Atom numbers outside 1..natoms are an error.
struct IndexGroups {
  std::vector<std::pair<std::string, std::vector<std::int32_t>>> groups;
  // The group named `name` (exact, case-sensitive; the first of that name), or null.
  const std::vector<std::int32_t>* find(std::string_view name) const;
};
IndexGroups read_index_groups(const std::string& path, std::int32_t natoms);
IndexGroups parse_index_groups(std::string_view text, const std::string& source,
                               std::int32_t natoms);

// The atoms `atoms` (ascending 0-based indices) of `top` as a topology of their own, in that
// order: their attributes, positions, the bonds between two of them, and the cell.
Topology subset(const Topology& top, std::span<const std::int32_t> atoms);

// Guesses, as MDAnalysis 2.4 makes them (MDAnalysis.topology.guessers). guess_type is its
// guess_atom_element of an atom name, as it returns it: capitals, and not always an element
// ("CL", "C", "DUMMY", "X"); the types of formats without types. guess_element is the element
// symbol of that guess, capitalised as element columns write it ("Cl"), or "" when it names no
// element. guess_mass is the mass of a type or element (amu, MDAnalysis's table, tried as written
// and in capitals), 0 when unknown.
std::string guess_type(std::string_view name);
std::string guess_element(std::string_view name);
float guess_mass(std::string_view type);

}  // namespace kvtraj

#pragma GCC visibility pop

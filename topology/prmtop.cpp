// AMBER PRMTOP (parm7) files: "%VERSION", then sections "%FLAG NAME", optional "%COMMENT" lines,
// "%FORMAT(nXw.d)" and the values, n fields of w columns a line. POINTERS gives the counts
// (NATOM first, NBONH third, MBONA fourth, NRES twelfth); the sections read are ATOM_NAME,
// CHARGE (in units of e / 18.2223), MASS, AMBER_ATOM_TYPE, ATOMIC_NUMBER, RESIDUE_LABEL,
// RESIDUE_POINTER (the first atom of each residue, from 1) and BONDS_INC_HYDROGEN and
// BONDS_WITHOUT_HYDROGEN (triples of two atoms given as 3 x (atom - 1) and a bond type). Residues
// are numbered 1..NRES, as MDAnalysis numbers them. Without ATOMIC_NUMBER the elements are guessed
// from the names (atomic numbers of 0 or below, extra points, have none); without
// AMBER_ATOM_TYPE the types are guessed from the names, and without MASS the masses from the
// types. Every section read must hold exactly the count POINTERS gives.
#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "topology/attributes.hpp"
#include "topology/text_scan.hpp"
#include "topology/topology.hpp"

namespace kvtraj {
namespace {

using topo::columns;
using topo::fail;
using topo::parse_integer;
using topo::parse_real;
using topo::trim;

constexpr float kChargeUnit = 18.2223f;  // AMBER charges are e times this

struct Line {
  std::string_view text;
  std::size_t number = 0;
};

// A section: its %FLAG line, the descriptor of its %FORMAT (n fields of `width` columns a line,
// of kind 'A', 'I' or 'R' for reals) and its data lines.
struct Section {
  std::size_t flag_line = 0;
  char kind = 0;
  std::size_t per_line = 0, width = 0;
  std::vector<Line> lines;
};

// "(20a4)", "(10I8)", "(5E16.8)": nothing when the format is not one repeated descriptor.
bool read_format(std::string_view text, Section& s) {
  text = trim(text);
  if (!text.starts_with('(') || !text.ends_with(')')) return false;
  text = trim(text.substr(1, text.size() - 2));
  std::size_t pos = 0;
  const auto number = [&] {
    const std::size_t begin = pos;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') ++pos;
    return parse_integer(text.substr(begin, pos - begin));
  };
  const auto count = number();
  if (!count || pos >= text.size()) return false;
  const char letter = static_cast<char>(text[pos++] & ~0x20);  // upper case
  const auto width = number();
  if (pos < text.size() && text[pos] == '.') {
    ++pos;
    if (!number()) return false;
  }
  if (pos != text.size() || !width || *count < 1 || *count > 1000 || *width < 1 || *width > 1000) {
    return false;
  }
  if (letter == 'A' || letter == 'I') {
    s.kind = letter;
  } else if (letter == 'E' || letter == 'F' || letter == 'G' || letter == 'D') {
    s.kind = 'R';
  } else {
    return false;
  }
  s.per_line = static_cast<std::size_t>(*count);
  s.width = static_cast<std::size_t>(*width);
  return true;
}

// The sections whose values are read.
bool wanted(std::string_view name) {
  constexpr std::array<std::string_view, 10> kRead = {"POINTERS",
                                                      "ATOM_NAME",
                                                      "CHARGE",
                                                      "MASS",
                                                      "AMBER_ATOM_TYPE",
                                                      "ATOMIC_NUMBER",
                                                      "RESIDUE_LABEL",
                                                      "RESIDUE_POINTER",
                                                      "BONDS_INC_HYDROGEN",
                                                      "BONDS_WITHOUT_HYDROGEN"};
  return std::find(kRead.begin(), kRead.end(), name) != kRead.end();
}

class PrmtopReader {
 public:
  PrmtopReader(std::string_view text, const std::string& source) : text_(text), source_(source) {}
  Topology read();

 private:
  void split_sections();
  const Section* find(std::string_view name, bool required) const;
  // The non-blank fields of a section, with the count POINTERS gives checked, as text.
  std::vector<std::pair<std::string_view, std::size_t>> fields(std::string_view name,
                                                               const Section& s, char kind,
                                                               std::int64_t expected) const;
  std::vector<std::int64_t> integers(std::string_view name, std::int64_t expected,
                                     bool required) const;
  void text_column(std::string_view name, TextColumn& column, std::int64_t expected) const;
  std::vector<float> reals(std::string_view name, std::int64_t expected) const;
  void residues(std::int64_t natoms, std::int64_t nres);
  void bonds(std::string_view name, std::int64_t triples, std::int64_t natoms);

  std::string_view text_;
  const std::string& source_;
  std::map<std::string, Section, std::less<>> sections_;
  Topology top_;
};

void PrmtopReader::split_sections() {
  topo::Lines lines(text_);
  std::string_view line;
  if (!lines.next(line) || !line.starts_with("%VERSION")) {
    fail(source_, 1, "not a PRMTOP file: the first line does not start with %VERSION");
  }
  Section* current = nullptr;
  std::string_view current_name;
  while (lines.next(line)) {
    if (line.starts_with("%FLAG")) {
      const std::string name(trim(line.substr(5)));
      auto [it, fresh] = sections_.try_emplace(name);
      if (!fresh) fail(source_, lines.number(), "a second %FLAG " + name);
      current = &it->second;
      current_name = it->first;
      current->flag_line = lines.number();
      bool more = false;
      while ((more = lines.next(line)) && line.starts_with("%COMMENT")) {
      }
      if (!more) fail(source_, "the file ends after %FLAG " + name);
      if (!line.starts_with("%FORMAT") || !read_format(line.substr(7), *current)) {
        fail(source_, lines.number(),
             "expected the %FORMAT of %FLAG " + name + ", found " + topo::quote(line));
      }
    } else if (line.starts_with("%COMMENT")) {
      continue;
    } else if (line.starts_with('%')) {
      fail(source_, lines.number(), "an unknown directive " + topo::quote(line));
    } else if (!current) {
      fail(source_, lines.number(), "values before the first %FLAG");
    } else if (wanted(current_name)) {
      current->lines.push_back({line, lines.number()});
    }
  }
}

const Section* PrmtopReader::find(std::string_view name, bool required) const {
  const auto it = sections_.find(name);
  if (it != sections_.end()) return &it->second;
  if (required) fail(source_, "no %FLAG " + std::string(name) + " section");
  return nullptr;
}

std::vector<std::pair<std::string_view, std::size_t>> PrmtopReader::fields(
    std::string_view name, const Section& s, char kind, std::int64_t expected) const {
  if (s.kind != kind) {
    fail(source_, s.flag_line, "%FLAG " + std::string(name) + " has a format of the wrong kind");
  }
  std::vector<std::pair<std::string_view, std::size_t>> out;
  for (const Line& line : s.lines) {
    for (std::size_t k = 0; k < s.per_line; ++k) {
      const std::string_view field = trim(columns(line.text, k * s.width, (k + 1) * s.width));
      if (!field.empty()) out.emplace_back(field, line.number);
    }
  }
  if (expected >= 0 && static_cast<std::int64_t>(out.size()) != expected) {
    fail(source_, s.flag_line,
         "%FLAG " + std::string(name) + " holds " + std::to_string(out.size()) +
             " values where POINTERS give " + std::to_string(expected));
  }
  return out;
}

std::vector<std::int64_t> PrmtopReader::integers(std::string_view name, std::int64_t expected,
                                                 bool required) const {
  std::vector<std::int64_t> out;
  const Section* s = find(name, required);
  if (!s) return out;
  for (const auto& [field, line] : fields(name, *s, 'I', expected)) {
    const auto value = parse_integer(field);
    if (!value) fail(source_, line, topo::quote(field) + " is not an integer");
    out.push_back(*value);
  }
  return out;
}

void PrmtopReader::text_column(std::string_view name, TextColumn& column,
                               std::int64_t expected) const {
  const Section* s = find(name, true);
  for (const auto& entry : fields(name, *s, 'A', expected)) column.push_back(entry.first);
}

std::vector<float> PrmtopReader::reals(std::string_view name, std::int64_t expected) const {
  std::vector<float> out;
  const Section* s = find(name, false);
  if (!s) return out;
  for (const auto& [field, line] : fields(name, *s, 'R', expected)) {
    const auto value = parse_real(field);
    if (!value) fail(source_, line, topo::quote(field) + " is not a number");
    out.push_back(*value);
  }
  return out;
}

void PrmtopReader::residues(std::int64_t natoms, std::int64_t nres) {
  TextColumn labels;
  text_column("RESIDUE_LABEL", labels, nres);
  const std::vector<std::int64_t> first = integers("RESIDUE_POINTER", nres, true);
  const std::size_t flag_line = find("RESIDUE_POINTER", true)->flag_line;
  if (natoms > 0 && nres == 0) fail(source_, flag_line, "atoms without residues");
  top_.resids.reserve(static_cast<std::size_t>(natoms));
  for (std::int64_t r = 0; r < nres; ++r) {
    const std::int64_t begin = first[r];
    const bool in_order = r == 0 ? begin == 1 : begin > first[r - 1];
    if (!in_order || begin > natoms) {
      fail(source_, flag_line,
           "RESIDUE_POINTER is not increasing within 1.." + std::to_string(natoms));
    }
    const std::int64_t next = r + 1 < nres ? first[r + 1] : natoms + 1;
    const std::int64_t end = std::clamp(next, begin, natoms + 1) - 1;
    for (std::int64_t a = begin - 1; a < end; ++a) {
      top_.resids.push_back(static_cast<std::int32_t>(r + 1));
      top_.resnames.push_back(labels[static_cast<std::size_t>(r)]);
    }
  }
}

void PrmtopReader::bonds(std::string_view name, std::int64_t triples, std::int64_t natoms) {
  const Section* s = find(name, false);
  if (!s) return;
  const std::vector<std::int64_t> values = integers(name, 3 * triples, true);
  for (std::size_t k = 0; k + 2 < values.size(); k += 3) {
    for (std::size_t j = 0; j < 2; ++j) {
      const std::int64_t v = values[k + j];
      if (v < 0 || v % 3 != 0 || v / 3 >= natoms) {
        fail(source_, s->flag_line,
             "%FLAG " + std::string(name) + " names atom index " + std::to_string(v) +
                 ", not 3 x (an atom of 1.." + std::to_string(natoms) + " - 1)");
      }
    }
    topo::add_bond(top_, static_cast<std::int32_t>(values[k] / 3),
                   static_cast<std::int32_t>(values[k + 1] / 3));
  }
  top_.has_bonds = true;
}

Topology PrmtopReader::read() {
  top_.source = source_;
  top_.format = "PRMTOP";
  split_sections();
  const std::vector<std::int64_t> pointers = integers("POINTERS", -1, true);
  if (pointers.size() < 12) fail(source_, find("POINTERS", true)->flag_line, "POINTERS too short");
  const std::int64_t natoms = pointers[0], nbonh = pointers[2], mbona = pointers[3],
                     nres = pointers[11];
  // Each atom, residue and bond takes a few bytes of the file: larger counts cannot be its own.
  const auto bytes = static_cast<std::int64_t>(text_.size());
  if (natoms < 0 || nbonh < 0 || mbona < 0 || nres < 0 || natoms > topo::kMaxAtoms ||
      natoms > bytes || nres > bytes || nbonh > bytes || mbona > bytes) {
    fail(source_, find("POINTERS", true)->flag_line, "POINTERS with impossible counts");
  }
  text_column("ATOM_NAME", top_.names, natoms);
  residues(natoms, nres);
  top_.charges = reals("CHARGE", natoms);
  for (float& q : top_.charges) q /= kChargeUnit;
  if (find("AMBER_ATOM_TYPE", false)) {
    text_column("AMBER_ATOM_TYPE", top_.types, natoms);
  } else {
    topo::types_from_names(top_);
  }
  top_.masses = reals("MASS", natoms);
  if (!find("MASS", false)) topo::masses_from_types(top_);
  if (find("ATOMIC_NUMBER", false)) {
    for (const std::int64_t z : integers("ATOMIC_NUMBER", natoms, true)) {
      top_.elements.push_back(topo::element_of_number(z));
    }
  } else {
    topo::elements_from_names(top_);
  }
  bonds("BONDS_INC_HYDROGEN", nbonh, natoms);
  bonds("BONDS_WITHOUT_HYDROGEN", mbona, natoms);
  topo::finish_bonds(top_);
  const auto n = static_cast<std::size_t>(natoms);
  top_.icodes.assign(n, ' ');
  topo::fill_column(top_.chains, n, "");
  topo::fill_column(top_.segids, n, "SYSTEM");
  return std::move(top_);
}

}  // namespace

Topology parse_prmtop(std::string_view text, const std::string& source) {
  return PrmtopReader(text, source).read();
}

}  // namespace kvtraj

// PDB files, read as MDAnalysis 2.4 reads them (PDBParser for the atoms, PDBReader for the
// positions and the cell): the ATOM and HETATM records up to the first line starting with END
// (so only the first MODEL), by fixed columns; the last CRYST1 before it, unless it is the
// 1 Å placeholder; CONECT records anywhere in the file.
//
// Numbers beyond the columns: writers of large systems either wrap them (GROMACS, MDTraj and
// MDAnalysis write residue numbers modulo 10,000, unfolded here as MDAnalysis does: a drop of
// more than 5,000 adds 10,000), or continue in hybrid-36 ("A000" = 10,000) or hexadecimal (VMD).
// Atom serials serve only to resolve CONECT records; when one cannot be read (GROMACS's
// "*****"), bonds are not read, as in MDAnalysis.
//
// Segment ids are columns 67-76; a file without any takes the chain ids, and one without either
// gets "SYSTEM". Types are the element columns as written when any atom has them, otherwise
// guessed from the names; masses follow the types. Elements are the element columns where they
// name an element, otherwise guessed from the name.
#include <array>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
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

int digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  return 99;
}

// `field` as digits of `base`, or nothing.
std::optional<std::int64_t> in_base(std::string_view field, int base) {
  if (field.empty()) return std::nullopt;
  std::int64_t value = 0;
  for (const char c : field) {
    const int d = digit_value(c);
    if (d >= base || value > (std::int64_t{1} << 40)) return std::nullopt;
    value = value * base + d;
  }
  return value;
}

// A number of a `width`-column field that may be decimal, hybrid-36 (the first letter upper-case:
// "A0000" follows 99999) or hexadecimal (VMD's "186a0").
std::optional<std::int64_t> large_number(std::string_view field, std::size_t width) {
  if (const auto decimal = parse_integer(field)) return decimal;
  std::int64_t power = 1, decimal_limit = 1;  // 36^(width-1), 10^width
  for (std::size_t i = 0; i + 1 < width; ++i) power *= 36;
  for (std::size_t i = 0; i < width; ++i) decimal_limit *= 10;
  if (field.size() == width && field[0] >= 'A' && field[0] <= 'Z') {
    const auto value = in_base(field, 36);
    if (value && field.find_first_of("abcdefghijklmnopqrstuvwxyz") == std::string_view::npos) {
      return *value - 10 * power + decimal_limit;
    }
    return std::nullopt;
  }
  return in_base(trim(field), 16);
}

struct Conect {
  std::string_view line;
  std::size_t number = 0;
};

class PdbReader {
 public:
  PdbReader(std::string_view text, const std::string& source) : text_(text), source_(source) {}
  Topology read();

 private:
  void atom(std::string_view line, std::size_t number);
  std::int32_t resid(std::string_view field, std::size_t number);
  void cryst1(std::string_view line, std::size_t number);
  void finish_segments();
  void finish_elements();
  void bonds();

  std::string_view text_;
  const std::string& source_;
  Topology top_;
  TextColumn raw_elements_;
  std::vector<std::int64_t> serials_;
  bool serials_known_ = true;
  std::int64_t previous_resid_ = 0;
  bool warned_resid_ = false;
  std::vector<Conect> conect_;
};

std::int32_t PdbReader::resid(std::string_view field, std::size_t number) {
  if (const auto decimal = parse_integer(field)) {
    // MDAnalysis adds 10,000 while the number lies more than 5,000 below the previous one.
    std::int64_t value = *decimal;
    const std::int64_t below = previous_resid_ - 5000 - value;
    if (below > 0) value += 10000 * ((below + 9999) / 10000);
    if (value > INT32_MAX) fail(source_, number, "residue numbers that unfold beyond 32 bits");
    previous_resid_ = value;
    return static_cast<std::int32_t>(value);
  }
  if (const auto large = large_number(field, 4)) {
    previous_resid_ = *large;
    return static_cast<std::int32_t>(*large);
  }
  if (!warned_resid_) {
    topo::warn_about(source_, number, "no residue number in columns 23-26: taken as 1");
    warned_resid_ = true;
  }
  return 1;
}

void PdbReader::atom(std::string_view line, std::size_t number) {
  if (top_.names.size() >= static_cast<std::size_t>(topo::kMaxAtoms)) {
    fail(source_, number, "more atoms than a topology can hold");
  }
  std::array<float, 3> xyz{};
  for (std::size_t k = 0; k < 3; ++k) {
    const auto value = parse_real(columns(line, 30 + 8 * k, 38 + 8 * k));
    if (!value) fail(source_, number, "no coordinates in columns 31-54 of this atom");
    xyz[k] = *value;
  }
  top_.coordinates.insert(top_.coordinates.end(), xyz.begin(), xyz.end());
  const auto serial = large_number(columns(line, 6, 11), 5);
  if (!serial) serials_known_ = false;
  serials_.push_back(serial.value_or(0));
  top_.names.push_back(trim(columns(line, 12, 16)));
  top_.resnames.push_back(trim(columns(line, 17, 21)));
  top_.chains.push_back(trim(columns(line, 21, 22)));
  top_.resids.push_back(resid(columns(line, 22, 26), number));
  const std::string_view icode = trim(columns(line, 26, 27));
  top_.icodes.push_back(icode.empty() ? ' ' : icode[0]);
  top_.segids.push_back(trim(columns(line, 66, 76)));
  raw_elements_.push_back(trim(columns(line, 76, 78)));
}

void PdbReader::cryst1(std::string_view line, std::size_t number) {
  constexpr std::array<std::size_t, 7> kEdges = {6, 15, 24, 33, 40, 47, 54};
  std::array<float, 6> v{};
  for (std::size_t k = 0; k < 6; ++k) {
    const auto value = parse_real(columns(line, kEdges[k], kEdges[k + 1]));
    if (!value) {
      topo::warn_about(source_, number, "the CRYST1 record cannot be read: no unit cell");
      top_.cell.reset();
      return;
    }
    v[k] = *value;
  }
  // A cube of 1 Å with right angles is the placeholder of files without a cell (np.allclose).
  constexpr std::array<double, 6> kPlaceholder = {1, 1, 1, 90, 90, 90};
  bool placeholder = true;
  for (std::size_t k = 0; k < 6; ++k) {
    placeholder = placeholder && std::abs(v[k] - kPlaceholder[k]) <= 1e-8 + 1e-5 * kPlaceholder[k];
  }
  top_.cell = placeholder ? std::nullopt
                          : topo::cell_unless_empty(UnitCell{v[0], v[1], v[2], v[3], v[4], v[5]});
}

void PdbReader::finish_segments() {
  const auto all_empty = [](const TextColumn& c) {
    return c.values().size() == 1 && c.values()[0].empty();
  };
  if (all_empty(top_.segids)) top_.segids = top_.chains;
  if (all_empty(top_.segids)) {
    top_.segids = TextColumn();
    topo::fill_column(top_.segids, top_.names.size(), "SYSTEM");
  }
}

void PdbReader::finish_elements() {
  const bool any_element = raw_elements_.values().size() > 1 || !raw_elements_.values()[0].empty();
  if (!any_element) {
    topo::types_from_names(top_);
    topo::elements_from_names(top_);
  } else {
    top_.types = raw_elements_;
    // Where the columns name no element, the name's guess, made once per distinct name.
    std::vector<std::optional<std::string>> guessed(top_.names.values().size());
    top_.elements.reserve(top_.names.size());
    for (std::size_t i = 0; i < top_.names.size(); ++i) {
      const std::string_view symbol = topo::element_symbol(raw_elements_[i]);
      if (!symbol.empty()) {
        top_.elements.push_back(symbol);
        continue;
      }
      auto& guess = guessed[top_.names.indices()[i]];
      if (!guess) guess = guess_element(top_.names[i]);
      top_.elements.push_back(*guess);
    }
  }
  topo::masses_from_types(top_);
}

void PdbReader::bonds() {
  if (conect_.empty()) return;
  if (!serials_known_) {
    topo::warn_about(source_, 0, "atom serials that cannot be read: CONECT records are ignored");
    return;
  }
  std::unordered_map<std::int64_t, std::int32_t> index_of;
  index_of.reserve(serials_.size());
  for (std::size_t i = 0; i < serials_.size(); ++i) {
    index_of[serials_[i]] = static_cast<std::int32_t>(i);
  }
  bool warned = false;
  for (const Conect& c : conect_) {
    const std::string_view line = trim(c.line);
    const auto serial_at = [&](std::size_t begin) {
      const auto serial = large_number(columns(line, begin, begin + 5), 5);
      if (!serial) fail(source_, c.number, "a CONECT record with an unreadable atom serial");
      return *serial;
    };
    const std::int64_t atom = serial_at(6);
    for (std::size_t begin = 11; begin + 5 <= line.size(); begin += 5) {
      const auto a = index_of.find(atom), b = index_of.find(serial_at(begin));
      if (a == index_of.end() || b == index_of.end()) {
        if (!warned) topo::warn_about(source_, c.number, "CONECT to an atom not in the file");
        warned = true;
        continue;
      }
      topo::add_bond(top_, a->second, b->second);
    }
  }
  topo::finish_bonds(top_);
  top_.has_bonds = !top_.bonds.empty();
}

Topology PdbReader::read() {
  top_.source = source_;
  top_.format = "PDB";
  topo::Lines lines(text_);
  std::string_view line;
  bool first_model = true;
  while (lines.next(line)) {
    const std::string_view record = line.substr(0, 6);
    if (record == "CONECT") {
      conect_.push_back({line, lines.number()});
    } else if (!first_model) {
      continue;
    } else if (topo::trim_left(line).starts_with("END")) {
      first_model = false;
    } else if (record == "ATOM  " || record == "HETATM" || record == "ATOM") {
      atom(line, lines.number());
    } else if (record == "CRYST1") {
      cryst1(line, lines.number());
    }
  }
  if (top_.names.size() == 0) fail(source_, "no ATOM or HETATM records: not a PDB file");
  finish_segments();
  finish_elements();
  bonds();
  return std::move(top_);
}

}  // namespace

Topology parse_pdb(std::string_view text, const std::string& source) {
  return PdbReader(text, source).read();
}

}  // namespace kvtraj

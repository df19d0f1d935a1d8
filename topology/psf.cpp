// CHARMM, NAMD and X-PLOR PSF files: the header line ("PSF" and flags such as EXT, NAMD, CHEQ,
// CMAP, XPLOR, DRUDE), the title (!NTITLE), the atoms (!NATOM: number, segment, residue number,
// residue name, atom name, type, charge, mass, then columns that are not read) and the bonds
// (!NBOND: pairs of atom numbers, four pairs a line). Later sections are not read.
//
// As MDAnalysis decides: standard files are read by CHARMM's fixed columns (segment 10-13,
// residue 15-18, residue name 20-23, name 25-28, type 30-33, charge 35-48, mass 49-62); from the
// first atom line that does not read so, and in NAMD and EXT files, by whitespace-separated
// fields. (MDAnalysis's EXT columns end the mass at column 70, where real EXT files never have it,
// so they always fall back to fields.) A residue number may carry an insertion code ("14A"), as
// CHARMM-GUI writes; later MDAnalysis versions read its digits, and the code is kept here. Masses
// and charges are the file's; elements are guessed from the names.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "topology/attributes.hpp"
#include "topology/text_scan.hpp"
#include "topology/topology.hpp"

namespace kvtraj {
namespace {

using topo::columns;
using topo::fail;
using topo::next_field;
using topo::parse_integer;
using topo::parse_real;
using topo::trim;

constexpr std::size_t kShortestAtomLine = 16;  // eight fields and their blanks at least

struct PsfAtom {
  std::string_view segid, resname, name, type;
  std::int32_t resid = 0;
  char icode = ' ';
  float charge = 0.0f, mass = 0.0f;
};

struct Resid {
  std::int32_t number = 0;
  char icode = ' ';
};

// A residue number with an optional one-letter insertion code after it.
std::optional<Resid> read_resid(std::string_view field) {
  field = trim(field);
  std::size_t digits_end = field.starts_with('-') || field.starts_with('+') ? 1 : 0;
  while (digits_end < field.size() && field[digits_end] >= '0' && field[digits_end] <= '9') {
    ++digits_end;
  }
  const auto number = parse_integer(field.substr(0, digits_end));
  const std::string_view code = field.substr(digits_end);
  const bool letter = code.size() == 1 &&
                      ((code[0] >= 'A' && code[0] <= 'Z') || (code[0] >= 'a' && code[0] <= 'z'));
  if (!number || (!code.empty() && !letter) || *number > INT32_MAX || *number < INT32_MIN) {
    return std::nullopt;
  }
  return Resid{static_cast<std::int32_t>(*number), code.empty() ? ' ' : code[0]};
}

// The atom of a line in fixed columns, or nothing when it does not read so.
std::optional<PsfAtom> fixed_atom(std::string_view line) {
  const auto resid = read_resid(columns(line, 14, 18));
  const auto charge = parse_real(columns(line, 34, 48));
  const auto mass = parse_real(columns(line, 48, 62));
  if (!parse_integer(columns(line, 0, 8)) || !resid || !charge || !mass) return std::nullopt;
  PsfAtom atom;
  atom.segid = trim(columns(line, 9, 13));
  atom.resname = trim(columns(line, 19, 23));
  atom.name = trim(columns(line, 24, 28));
  atom.type = trim(columns(line, 29, 33));
  atom.resid = resid->number;
  atom.icode = resid->icode;
  atom.charge = *charge;
  atom.mass = *mass;
  return atom;
}

// The atom of a line of whitespace-separated fields, or nothing.
std::optional<PsfAtom> split_atom(std::string_view line) {
  std::array<std::string_view, 8> f;
  std::size_t pos = 0;
  for (auto& field : f) {
    field = next_field(line, pos);
    if (field.empty()) return std::nullopt;
  }
  const auto resid = read_resid(f[2]);
  const auto charge = parse_real(f[6]);
  const auto mass = parse_real(f[7]);
  if (!parse_integer(f[0]) || !resid || !charge || !mass) return std::nullopt;
  return PsfAtom{f[1], f[3], f[4], f[5], resid->number, resid->icode, *charge, *mass};
}

class PsfReader {
 public:
  PsfReader(std::string_view text, const std::string& source) : lines_(text), source_(source) {}
  Topology read();

 private:
  // The next line that is not blank, or false at the end.
  bool next_nonblank(std::string_view& line);
  // The count of the next section header "N !NAME...", which must name `name`; nothing at the end
  // of the file when the section is optional.
  std::optional<std::int64_t> section(std::string_view name, bool required);
  void atoms(std::int64_t count);
  void bonds(std::int64_t count);

  topo::Lines lines_;
  const std::string& source_;
  bool fields_ = false;  // atoms by whitespace-separated fields rather than columns
  Topology top_;
};

bool PsfReader::next_nonblank(std::string_view& line) {
  while (lines_.next(line)) {
    if (!trim(line).empty()) return true;
  }
  return false;
}

std::optional<std::int64_t> PsfReader::section(std::string_view name, bool required) {
  std::string_view line;
  std::string wanted(1, '!');
  wanted.append(name);
  if (!next_nonblank(line)) {
    if (!required) return std::nullopt;
    fail(source_, "the file ends before its " + wanted + " section");
  }
  std::size_t pos = 0;
  const auto count = parse_integer(next_field(line, pos));
  const std::string_view title = next_field(line, pos);
  if (!count || *count < 0 || !(title == wanted || title == wanted + ":")) {
    fail(source_, lines_.number(),
         "expected the " + wanted + " section, found " + topo::quote(line));
  }
  return *count;
}

void PsfReader::atoms(std::int64_t count) {
  if (count > topo::kMaxAtoms) fail(source_, lines_.number(), "too many atoms");
  const auto n = static_cast<std::size_t>(count);
  const std::size_t room = lines_.remaining() / kShortestAtomLine;
  top_.masses.reserve(std::min(n, room));
  top_.charges.reserve(std::min(n, room));
  std::string_view line;
  for (std::size_t i = 0; i < n; ++i) {
    if (!lines_.next(line)) {
      fail(source_,
           "the file ends after " + std::to_string(i) + " of its " + std::to_string(n) + " atoms");
    }
    std::optional<PsfAtom> atom = fields_ ? std::nullopt : fixed_atom(line);
    if (!atom) {
      fields_ = true;
      atom = split_atom(line);
      if (!atom) fail(source_, lines_.number(), "an atom line that cannot be read");
    }
    top_.segids.push_back(atom->segid.empty() ? "SYSTEM" : atom->segid);
    top_.resids.push_back(atom->resid);
    top_.icodes.push_back(atom->icode);
    top_.resnames.push_back(atom->resname);
    top_.names.push_back(atom->name);
    top_.types.push_back(atom->type);
    top_.charges.push_back(atom->charge);
    top_.masses.push_back(atom->mass);
  }
}

void PsfReader::bonds(std::int64_t count) {
  // Each bond takes at least four bytes ("1 2 "): a larger count cannot be the file's.
  if (static_cast<std::uint64_t>(count) > lines_.remaining()) {
    fail(source_, lines_.number(), "more bonds than the rest of the file can hold");
  }
  const std::int64_t natoms = top_.natoms();
  const std::int64_t lines = (count + 3) / 4;
  std::int64_t numbers = 0, first = 0;
  std::string_view line;
  for (std::int64_t k = 0; k < lines; ++k) {
    if (!lines_.next(line)) fail(source_, "the file ends inside its !NBOND section");
    std::size_t pos = 0;
    for (std::string_view field = next_field(line, pos); !field.empty();
         field = next_field(line, pos)) {
      const auto atom = parse_integer(field);
      if (!atom || *atom < 1 || *atom > natoms) {
        fail(source_, lines_.number(),
             "a bond to " + topo::quote(field) + ", not an atom of 1.." + std::to_string(natoms));
      }
      if (numbers++ % 2 == 1) {
        topo::add_bond(top_, static_cast<std::int32_t>(first - 1),
                       static_cast<std::int32_t>(*atom - 1));
      }
      first = *atom;
    }
  }
  if (numbers != 2 * count) {
    fail(source_, lines_.number(),
         "the !NBOND section holds " + std::to_string(numbers) + " atom numbers, not " +
             std::to_string(2 * count));
  }
  topo::finish_bonds(top_);
  top_.has_bonds = true;
}

Topology PsfReader::read() {
  top_.source = source_;
  top_.format = "PSF";
  std::string_view line;
  if (!lines_.next(line) || !line.starts_with("PSF")) {
    fail(source_, 1, "not a PSF file: the first line does not start with PSF");
  }
  std::size_t pos = 3;
  for (std::string_view flag = next_field(line, pos); !flag.empty(); flag = next_field(line, pos)) {
    fields_ = fields_ || flag == "NAMD" || flag == "EXT";
  }
  for (std::int64_t title = *section("NTITLE", true); title > 0; --title) {
    if (!lines_.next(line)) fail(source_, "the file ends inside its title");
  }
  atoms(*section("NATOM", true));
  topo::fill_column(top_.chains, top_.names.size(), "");
  topo::elements_from_names(top_);
  if (const auto count = section("NBOND", false)) bonds(*count);
  return std::move(top_);
}

}  // namespace

Topology parse_psf(std::string_view text, const std::string& source) {
  return PsfReader(text, source).read();
}

}  // namespace kvtraj

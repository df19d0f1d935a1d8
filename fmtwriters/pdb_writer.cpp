// Multi-model PDB: a TITLE record, then per frame a CRYST1 record (when the frames carry a cell),
// MODEL, one ATOM record per atom and ENDMDL; END closes the file. ATOM records keep the PDB
// columns: serial 7-11, name 13-16, residue name 18-20 (a fourth letter in 21, as GROMACS and
// CHARMM write it), chain 22, residue number 23-26, x y z 31-54 as %8.3f, occupancy 1.00 and
// temperature factor 0.00, element 77-78. Names of one to three letters start in column 14,
// four-letter names and two-letter elements (ions named as their residue, e.g. CL in CL) in 13.
// Serials beyond 99,999 and residue numbers beyond 9,999 keep their last digits, as MDAnalysis
// and MDTraj write them; MDAnalysis unfolds the wrapped residue numbers when it reads them.
#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <string_view>

#include "fmtwriters/formats.hpp"
#include "support/fixed_text.hpp"
#include "support/text_output.hpp"

namespace kvtraj {
namespace {

// Columns 1-30 and 55-78 of an ATOM record: everything but the coordinates.
constexpr std::size_t kHead = 30, kTail = 24;

// Two-letter elements of the ions MD systems hold.
constexpr std::array<std::string_view, 18> kIons = {"LI", "NA", "MG", "CL", "CA", "MN",
                                                    "FE", "CO", "NI", "CU", "ZN", "BR",
                                                    "RB", "SR", "CS", "BA", "CD", "HG"};

std::string upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

// The element of an atom by its name: a two-letter ion when the atom is named as its residue,
// otherwise the first letter of the name.
std::string element_of(std::string_view name, std::string_view resname) {
  const std::string n = upper(name);
  if (n == upper(resname) && std::find(kIons.begin(), kIons.end(), n) != kIons.end()) return n;
  const auto letter = std::find_if(n.begin(), n.end(), [](char c) { return std::isalpha(c); });
  return letter == n.end() ? std::string() : std::string(1, *letter);
}

// Columns 13-16: the name cut to four letters, from column 14 unless it fills all four or its
// element has two letters.
std::string name_field(std::string_view name, const std::string& element) {
  const std::string_view cut = name.substr(0, 4);
  char field[8];
  std::snprintf(field, sizeof field, cut.size() == 4 || element.size() == 2 ? "%-4.*s" : " %-3.*s",
                static_cast<int>(cut.size()), cut.data());
  return field;
}

class PdbWriter final : public TrajectoryWriter {
 public:
  explicit PdbWriter(WriterSetup s)
      : TrajectoryWriter(std::move(s.out), std::move(s.path), s.natoms, s.with_cell) {
    fixed_.reserve(s.atoms.size() * (kHead + kTail));
    for (const AtomRecord& a : s.atoms) add_fixed_columns(a);
  }

 private:
  void add_fixed_columns(const AtomRecord& a) {
    const std::string name(trim_right(a.name)), resname(trim_right(a.resname));
    const std::string element = element_of(name, resname);
    // A four-letter residue name takes column 21; shorter ones end in column 20.
    char res[8];
    const std::string_view cut = std::string_view(resname).substr(0, 4);
    std::snprintf(res, sizeof res, cut.size() == 4 ? "%.*s" : "%3.*s ",
                  static_cast<int>(cut.size()), cut.data());
    char columns[kHead + kTail + 16];
    std::snprintf(columns, sizeof columns, "ATOM  %5lld %s %s%c%4lld    %6.2f%6.2f          %2s",
                  static_cast<long long>(wrapped(a.number, 5)), name_field(name, element).c_str(),
                  res, a.chain.empty() ? ' ' : a.chain[0],
                  static_cast<long long>(wrapped(a.resnum, 4)), 1.0, 0.0, element.c_str());
    fixed_.append(columns, kHead + kTail);
  }

  bool put_header(std::string_view title) override {
    const std::string_view text = trim_right(first_line(title).substr(0, 70));
    if (text.empty()) return true;
    const std::string line = "TITLE     " + std::string(text) + "\n";
    return put(line.data(), line.size());
  }

  bool put_frame(std::span<const float> coords, const UnitCell& cell) override {
    text_.clear();
    if (with_cell() && !add_cell(cell)) return false;
    char model[32];
    std::snprintf(model, sizeof model, "MODEL     %4lld\n",
                  static_cast<long long>(wrapped(frames() + 1, 4)));
    text_ += model;
    PositionFields fields;
    for (std::size_t i = 0; i < static_cast<std::size_t>(natoms()); ++i) {
      const std::array<double, 3> xyz = {coords[3 * i], coords[3 * i + 1], coords[3 * i + 2]};
      const int bad = format_position(xyz, 1.0, fields);
      if (bad >= 0) return fail_unfit(xyz[bad], "8 columns of a PDB coordinate field");
      text_.append(fixed_, i * (kHead + kTail), kHead);
      for (const auto& field : fields) text_.append(field.data(), 8);
      text_.append(fixed_, i * (kHead + kTail) + kHead, kTail);
      text_ += '\n';
      if (text_.size() >= kTextChunk && !put_text(text_)) return false;
    }
    text_ += "ENDMDL\n";
    return put_text(text_);
  }

  bool put_trailer() override { return put("END\n", 4); }

  bool add_cell(const UnitCell& cell) {
    const std::array<float, 6> values = {cell.a, cell.b, cell.c, cell.alpha, cell.beta, cell.gamma};
    char line[128];
    int at = std::snprintf(line, sizeof line, "CRYST1");
    for (std::size_t k = 0; k < values.size(); ++k) {
      const int width = k < 3 ? 9 : 7;
      const int length = std::snprintf(line + at, sizeof line - static_cast<std::size_t>(at),
                                       k < 3 ? "%9.3f" : "%7.2f", static_cast<double>(values[k]));
      if (!std::isfinite(values[k]) || length != width) {
        return fail_unfit(
            values[k], k < 3 ? "9 columns of a PDB cell length" : "7 columns of a PDB cell angle");
      }
      at += length;
    }
    text_.append(line, static_cast<std::size_t>(at));
    text_ += " P 1           1\n";
    return true;
  }

  std::string fixed_;  // columns 1-30 and 55-78 of every atom's record
  std::string text_;
};

}  // namespace

std::unique_ptr<TrajectoryWriter> make_pdb_writer(WriterSetup setup) {
  return std::make_unique<PdbWriter>(std::move(setup));
}

}  // namespace kvtraj

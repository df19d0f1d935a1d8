// GROMACS GRO files: a title, the atom count, one line per atom (residue number, residue name,
// atom name and atom number in 5 columns each, then x, y, z in nm and optional velocities), and
// the box line.
//
// The position fields have the width of the distance between the first two decimal points of the
// first atom line, as GROMACS reads them ("%8.3f" by default; higher precisions are wider). Atom
// numbers wrap at 100,000 and are not kept; residue numbers wrap at 100,000 too, and are unfolded
// as MDAnalysis unfolds them: each run of residue number 0 after the first atom starts a new
// hundred thousand. The box line holds 3 lengths or the 9 components v1(x) v2(y) v3(z) v1(y)
// v1(z) v2(x) v2(z) v3(x) v3(y); values written without blanks between them are taken as
// MDAnalysis takes them, as numbers with five decimals. An empty box (zeros, or vectors that span
// no cell) means no cell. Types and elements are guessed from the names, masses from the types.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/unit_cell.hpp"
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

constexpr std::size_t kShortestAtomLine = 21;  // 20 columns of text and a line break at least

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

// Numbers of the form [-]digits.ddddd, left to right (MDAnalysis's fallback for box values
// that touch, as "40000.0000040000.00000"), keeping a minus sign written before them.
std::vector<float> five_decimal_numbers(std::string_view line) {
  std::vector<float> out;
  std::size_t pos = 0;
  while (pos < line.size()) {
    if (!is_digit(line[pos])) {
      ++pos;
      continue;
    }
    std::size_t end = pos;
    while (end < line.size() && is_digit(line[end])) ++end;
    if (end + 6 <= line.size() && line[end] == '.' &&
        std::all_of(line.begin() + end + 1, line.begin() + end + 6, is_digit)) {
      const std::size_t begin = pos > 0 && line[pos - 1] == '-' ? pos - 1 : pos;
      out.push_back(parse_real(line.substr(begin, end + 6 - begin)).value_or(0.0f));
      end += 6;
    }
    pos = end;
  }
  return out;
}

std::vector<float> box_values(std::string_view line) {
  std::vector<float> values;
  std::size_t pos = 0;
  for (std::string_view field = topo::next_field(line, pos); !field.empty();
       field = topo::next_field(line, pos)) {
    const auto value = parse_real(field);
    if (!value) return five_decimal_numbers(line);
    values.push_back(*value);
  }
  return values;
}

// The cell of a box line (nm) in Å, computed as MDAnalysis computes it.
std::optional<UnitCell> box_cell(const std::vector<float>& v) {
  if (v.size() == 3) {
    if (std::fabs(v[0]) <= 1e-8f && std::fabs(v[1]) <= 1e-8f && std::fabs(v[2]) <= 1e-8f) {
      return std::nullopt;
    }
    return topo::cell_unless_empty(UnitCell{v[0] * 10.0f, v[1] * 10.0f, v[2] * 10.0f});
  }
  const std::array<double, 9> rows = {v[0], v[3], v[4], v[5], v[1], v[6], v[7], v[8], v[2]};
  UnitCell cell = cell_from_box_vectors(rows);
  const bool valid = cell.a > 0.0f && cell.b > 0.0f && cell.c > 0.0f && cell.alpha > 0.0f &&
                     cell.beta > 0.0f && cell.gamma > 0.0f && cell.alpha < 180.0f &&
                     cell.beta < 180.0f && cell.gamma < 180.0f && std::isfinite(cell.a) &&
                     std::isfinite(cell.b) && std::isfinite(cell.c);
  if (!valid) return std::nullopt;
  cell.a *= 10.0f;
  cell.b *= 10.0f;
  cell.c *= 10.0f;
  return cell;
}

// The width of the position fields: the distance between the first two decimal points after
// the 20 columns of text.
std::size_t field_width(std::string_view line) {
  const std::size_t first = line.find('.', 20);
  const std::size_t second = first == std::string_view::npos ? first : line.find('.', first + 1);
  return second == std::string_view::npos ? 0 : second - first;
}

class GroReader {
 public:
  GroReader(std::string_view text, const std::string& source) : lines_(text), source_(source) {}
  Topology read();

 private:
  std::int64_t atom_count();
  void atom(std::string_view line, std::vector<std::int64_t>& resids);
  void unfold(const std::vector<std::int64_t>& resids);

  topo::Lines lines_;
  const std::string& source_;
  Topology top_;
  std::size_t width_ = 0;
};

std::int64_t GroReader::atom_count() {
  std::string_view line;
  if (!lines_.next(line)) fail(source_, "an empty file");
  if (!lines_.next(line)) fail(source_, "the file ends after its title");
  const auto count = parse_integer(line);
  if (!count || *count < 0) fail(source_, 2, "the atom count is not a number: not a GRO file");
  if (*count > topo::kMaxAtoms ||
      static_cast<std::uint64_t>(*count) > lines_.remaining() / kShortestAtomLine) {
    fail(source_, 2,
         "a count of " + std::to_string(*count) + " atoms, more than the " +
             std::to_string(lines_.remaining()) + " bytes after it can hold");
  }
  return *count;
}

void GroReader::atom(std::string_view line, std::vector<std::int64_t>& resids) {
  const std::size_t number = lines_.number();
  const auto resid = parse_integer(columns(line, 0, 5));
  if (!resid || !parse_integer(columns(line, 15, 20))) {
    fail(source_, number, "no residue or atom number in columns 1-5 and 16-20");
  }
  const std::string_view name = trim(columns(line, 10, 15));
  if (name.empty()) fail(source_, number, "no atom name in columns 11-15");
  if (width_ == 0) {
    width_ = field_width(line);
    if (width_ == 0) fail(source_, number, "no decimal points in the positions");
  }
  for (std::size_t k = 0; k < 3; ++k) {
    const auto value = parse_real(columns(line, 20 + k * width_, 20 + (k + 1) * width_));
    if (!value)
      fail(source_, number,
           "the positions are not numbers in fields of " + std::to_string(width_) + " columns");
    top_.coordinates.push_back(*value * 10.0f);
  }
  resids.push_back(*resid);
  top_.resnames.push_back(trim(columns(line, 5, 10)));
  top_.names.push_back(name);
}

void GroReader::unfold(const std::vector<std::int64_t>& resids) {
  top_.resids.reserve(resids.size());
  std::int64_t offset = 0;
  for (std::size_t i = 0; i < resids.size(); ++i) {
    if (resids[i] == 0 && i > 0 && resids[i - 1] != 0) offset += 100000;
    const std::int64_t resid = resids[i] + offset;
    if (resid > INT32_MAX || resid < INT32_MIN) {
      fail(source_, 3 + i, "residue numbers that unfold beyond 32 bits");
    }
    top_.resids.push_back(static_cast<std::int32_t>(resid));
  }
}

Topology GroReader::read() {
  top_.source = source_;
  top_.format = "GRO";
  const std::int64_t count = atom_count();
  const auto n = static_cast<std::size_t>(count);
  top_.coordinates.reserve(3 * n);
  top_.names.reserve(n);
  top_.resnames.reserve(n);
  std::vector<std::int64_t> resids;
  resids.reserve(n);
  std::string_view line;
  for (std::size_t i = 0; i < n; ++i) {
    if (!lines_.next(line)) {
      fail(source_,
           "the file ends after " + std::to_string(i) + " of " + std::to_string(n) + " atoms");
    }
    atom(line, resids);
  }
  if (!lines_.next(line)) fail(source_, "no box line after the atoms");
  const std::vector<float> box = box_values(line);
  if (box.size() != 3 && box.size() != 9) {
    fail(source_, lines_.number(),
         "a box line of " + std::to_string(box.size()) + " values, not 3 or 9");
  }
  top_.cell = box_cell(box);
  unfold(resids);
  top_.icodes.assign(n, ' ');
  topo::fill_column(top_.chains, n, "");
  topo::fill_column(top_.segids, n, "SYSTEM");
  topo::types_from_names(top_);
  topo::elements_from_names(top_);
  topo::masses_from_types(top_);
  return std::move(top_);
}

}  // namespace

Topology parse_gro(std::string_view text, const std::string& source) {
  return GroReader(text, source).read();
}

}  // namespace kvtraj

// Types, elements and masses guessed from atom names as MDAnalysis 2.4 guesses them
// (MDAnalysis.topology.guessers and the tables of MDAnalysis.topology.tables, copied here).
#include <algorithm>
#include <array>
#include <cctype>
#include <string>
#include <string_view>
#include <utility>

#include "topology/attributes.hpp"
#include "topology/topology.hpp"

namespace kvtraj {
namespace {

template <class Value>
using Table = std::pair<std::string_view, Value>;

template <class Value, std::size_t N>
constexpr bool sorted_keys(const std::array<Table<Value>, N>& table) {
  return std::is_sorted(table.begin(), table.end(),
                        [](const auto& a, const auto& b) { return a.first < b.first; });
}

template <class Value, std::size_t N>
const Value* look_up(const std::array<Table<Value>, N>& table, std::string_view key) {
  const auto it =
      std::lower_bound(table.begin(), table.end(), key,
                       [](const auto& entry, std::string_view k) { return entry.first < k; });
  return it != table.end() && it->first == key ? &it->second : nullptr;
}

// tables.atomelements: names whose first letters mislead (ions, CHARMM and AMBER names).
constexpr std::array<Table<std::string_view>, 36> kNamedElements = {{
    {"AC", "C"},     {"BC", "C"},  {"BR", "BR"},  {"C0", "CA"},  {"CA2+", "CA"}, {"CAL", "CA"},
    {"CES", "CS"},   {"CL", "CL"}, {"CL-", "CL"}, {"CLA", "CL"}, {"CLAL", "CL"}, {"CS", "CS"},
    {"CS+", "CS"},   {"CU", "CU"}, {"FE", "FE"},  {"FE2", "FE"}, {"IOD", "I"},   {"K", "K"},
    {"K+", "K"},     {"LI", "LI"}, {"LI+", "LI"}, {"LIT", "LI"}, {"MG", "MG"},   {"MG2+", "MG"},
    {"MW", "DUMMY"}, {"NA", "NA"}, {"NA+", "NA"}, {"POT", "K"},  {"QC", "CE"},   {"QK", "K"},
    {"QL", "LI"},    {"QN", "NA"}, {"QR", "RB"},  {"RB", "RB"},  {"SOD", "NA"},  {"ZN", "ZN"},
}};
static_assert(sorted_keys(kNamedElements));

// guessers.elements: the elements a stripped name is tried against.
constexpr std::array<std::string_view, 16> kCommonElements = {
    "H", "LI", "BE", "B", "C", "N", "O", "F", "NA", "MG", "AL", "P", "SI", "S", "CL", "K"};

// tables.masses (amu); keys are case-sensitive, as MDAnalysis's.
constexpr std::array<Table<double>, 111> kMasses = {{
    {"Ac", 227.028},  {"Ag", 107.8682},  {"Al", 26.981539}, {"Am", 243.0},     {"Ar", 39.948},
    {"As", 74.92159}, {"At", 210.0},     {"Au", 196.96654}, {"B", 10.811},     {"BR", 79.904},
    {"Ba", 137.327},  {"Be", 9.012182},  {"Bh", 262.0},     {"Bi", 208.98037}, {"Bk", 247.0},
    {"C", 12.011},    {"CA", 40.08},     {"CL", 35.45},     {"CS", 132.9},     {"CU", 63.546},
    {"Cd", 112.411},  {"Ce", 140.116},   {"Cf", 251.0},     {"Cm", 247.0},     {"Co", 58.9332},
    {"Cr", 51.9961},  {"DUMMY", 0.0},    {"Db", 262.0},     {"Dy", 162.5},     {"Er", 167.26},
    {"Es", 252.0},    {"Eu", 151.965},   {"F", 18.998},     {"FE", 55.847},    {"Fm", 257.0},
    {"Fr", 223.0},    {"Ga", 69.723},    {"Gd", 157.25},    {"Ge", 72.61},     {"H", 1.008},
    {"HE", 4.0026},   {"Hf", 178.49},    {"Hg", 200.59},    {"Ho", 164.93032}, {"Hs", 265.0},
    {"I", 126.9045},  {"In", 114.82},    {"Ir", 192.22},    {"K", 39.102},     {"Kr", 83.8},
    {"La", 138.9055}, {"Li", 6.941},     {"Lr", 262.0},     {"Lu", 174.967},   {"MG", 24.305},
    {"Md", 258.0},    {"Mn", 54.93805},  {"Mo", 95.94},     {"Mt", 266.0},     {"N", 14.007},
    {"NA", 22.98977}, {"NE", 20.1797},   {"Na", 22.989768}, {"Nb", 92.90638},  {"Nd", 144.24},
    {"Ni", 58.6934},  {"No", 259.0},     {"Np", 237.048},   {"O", 15.999},     {"Os", 190.2},
    {"P", 30.974},    {"Pa", 231.0359},  {"Pb", 207.2},     {"Pd", 106.42},    {"Pm", 145.0},
    {"Po", 209.0},    {"Pr", 140.90765}, {"Pt", 195.08},    {"Pu", 244.0},     {"RB", 85.4678},
    {"Ra", 226.025},  {"Re", 186.207},   {"Rf", 261.0},     {"Rh", 102.9055},  {"Rn", 222.0},
    {"Ru", 101.07},   {"S", 32.06},      {"Sb", 121.757},   {"Sc", 44.95591},  {"Se", 78.96},
    {"Sg", 263.0},    {"Si", 28.0855},   {"Sm", 150.36},    {"Sn", 118.71},    {"Sr", 87.62},
    {"Ta", 180.9479}, {"Tb", 158.92534}, {"Tc", 98.0},      {"Te", 127.6},     {"Th", 232.0381},
    {"Ti", 47.88},    {"Tl", 204.3833},  {"Tm", 168.93421}, {"U", 238.0289},   {"V", 50.9415},
    {"W", 183.85},    {"Xe", 131.29},    {"Y", 88.90585},   {"Yb", 173.04},    {"ZN", 65.37},
    {"Zr", 91.224},
}};
static_assert(sorted_keys(kMasses));

// tables.Z2SYMB: the symbol of each atomic number.
constexpr std::array<std::string_view, 119> kSymbols = {
    "",   "H",  "He", "Li", "Be", "B",  "C",  "N",  "O",  "F",  "Ne", "Na", "Mg", "Al", "Si",
    "P",  "S",  "Cl", "Ar", "K",  "Ca", "Sc", "Ti", "V",  "Cr", "Mn", "Fe", "Co", "Ni", "Cu",
    "Zn", "Ga", "Ge", "As", "Se", "Br", "Kr", "Rb", "Sr", "Y",  "Zr", "Nb", "Mo", "Tc", "Ru",
    "Rh", "Pd", "Ag", "Cd", "In", "Sn", "Sb", "Te", "I",  "Xe", "Cs", "Ba", "La", "Ce", "Pr",
    "Nd", "Pm", "Sm", "Eu", "Gd", "Tb", "Dy", "Ho", "Er", "Tm", "Yb", "Lu", "Hf", "Ta", "W",
    "Re", "Os", "Ir", "Pt", "Au", "Hg", "Tl", "Pb", "Bi", "Po", "At", "Rn", "Fr", "Ra", "Ac",
    "Th", "Pa", "U",  "Np", "Pu", "Am", "Cm", "Bk", "Cf", "Es", "Fm", "Md", "No", "Lr", "Rf",
    "Db", "Sg", "Bh", "Hs", "Mt", "Ds", "Rg", "Cn", "Nh", "Fl", "Mc", "Lv", "Ts", "Og"};

std::string upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

bool is_common_element(std::string_view name) {
  return std::find(kCommonElements.begin(), kCommonElements.end(), name) != kCommonElements.end();
}

}  // namespace

std::string guess_type(std::string_view name) {
  if (name.empty()) return "";
  if (const auto* e = look_up(kNamedElements, upper(name))) return std::string(*e);
  std::string no_symbols;  // the name without '*', '+' and '-'
  for (const char c : name) {
    if (c != '*' && c != '+' && c != '-') no_symbols.push_back(c);
  }
  std::string stripped;  // and without digits, in capitals
  for (const char c : no_symbols) {
    if (c < '0' || c > '9') stripped.push_back(c);
  }
  stripped = upper(stripped);
  if (const auto* e = look_up(kNamedElements, stripped)) return std::string(*e);
  // The element is most likely on the left: drop letters from the right until one fits.
  std::string_view rest = stripped;
  while (!rest.empty()) {
    if (is_common_element(rest)) return std::string(rest);
    if (is_common_element(rest.substr(0, rest.size() - 1))) {
      return std::string(rest.substr(0, rest.size() - 1));
    }
    if (is_common_element(rest.substr(1))) return std::string(rest.substr(1));
    if (rest.size() <= 2) return std::string(rest.substr(0, 1));
    rest.remove_suffix(1);
  }
  return no_symbols;
}

std::string guess_element(std::string_view name) {
  return std::string(topo::element_symbol(guess_type(name)));
}

float guess_mass(std::string_view type) {
  const double* mass = look_up(kMasses, type);
  if (!mass) mass = look_up(kMasses, upper(type));
  return mass ? static_cast<float>(*mass) : 0.0f;
}

namespace topo {

std::string_view element_symbol(std::string_view text) {
  if (text.empty() || text.size() > 2) return {};
  std::string capitalised(1, static_cast<char>(std::toupper(static_cast<unsigned char>(text[0]))));
  if (text.size() == 2) {
    capitalised.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(text[1]))));
  }
  const auto it = std::find(kSymbols.begin() + 1, kSymbols.end(), capitalised);
  return it != kSymbols.end() ? *it : std::string_view();
}

std::string_view element_of_number(std::int64_t z) {
  if (z < 1 || z >= static_cast<std::int64_t>(kSymbols.size())) return {};
  return kSymbols[static_cast<std::size_t>(z)];
}

}  // namespace topo
}  // namespace kvtraj

#include <algorithm>
#include <array>

#include "topology/selection_tree.hpp"

namespace kvtraj::atomsel {
namespace {

struct Spelling {
  std::string_view word;
  Keyword keyword;
};

constexpr std::array<Spelling, 18> kKeywords = {{
    {"all", Keyword::all},
    {"protein", Keyword::protein},
    {"backbone", Keyword::backbone},
    {"nucleic", Keyword::nucleic},
    {"name", Keyword::name},
    {"type", Keyword::type},
    {"element", Keyword::element},
    {"resname", Keyword::resname},
    {"segid", Keyword::segid},
    {"chainID", Keyword::chain},
    {"chainid", Keyword::chain},
    {"resid", Keyword::resid},
    {"resnum", Keyword::resnum},
    {"index", Keyword::index},
    {"bynum", Keyword::bynum},
    {"mass", Keyword::mass},
    {"charge", Keyword::charge},
    {"group", Keyword::group},
}};

// Every selection keyword and operator of MDAnalysis 2.4.2 (its _SELECTIONDICT and _OPERATIONS
// once the package is imported), sorted.
constexpr std::array<std::string_view, 63> kMdanalysisWords = {
    "all",         "altLoc",        "altloc",
    "and",         "aromatic",      "aromaticity",
    "around",      "atom",          "backbone",
    "bfactor",     "bonded",        "bynum",
    "byres",       "chainID",       "chainid",
    "charge",      "chirality",     "cylayer",
    "cyzone",      "element",       "epsilon",
    "epsilon14",   "formalcharge",  "gbscreen",
    "global",      "group",         "icode",
    "id",          "index",         "isolayer",
    "mass",        "model",         "molnum",
    "moltype",     "name",          "nbindex",
    "not",         "nucleic",       "nucleicbackbone",
    "nucleicbase", "nucleicsugar",  "occupancy",
    "or",          "point",         "prop",
    "protein",     "radius",        "record_type",
    "resid",       "resindex",      "resname",
    "resnum",      "rmin",          "rmin14",
    "same",        "segid",         "segindex",
    "smarts",      "solventradius", "sphlayer",
    "sphzone",     "tempfactor",    "type",
};

// MDAnalysis's ProteinSelection.prot_res, sorted.
constexpr std::array<std::string_view, 104> kProteinResidues = {
    "ACE",  "ALA",  "ALAD", "ARG",  "ARGN", "ASF",  "ASH",  "ASN",  "ASN1", "ASP",  "ASPH", "CALA",
    "CARG", "CASF", "CASN", "CASP", "CCYS", "CCYX", "CGLN", "CGLU", "CGLY", "CHID", "CHIE", "CHIP",
    "CILE", "CLEU", "CLYS", "CME",  "CMET", "CPHE", "CPRO", "CSER", "CTHR", "CTRP", "CTYR", "CVAL",
    "CYM",  "CYS",  "CYS1", "CYS2", "CYSH", "CYX",  "DAB",  "GLH",  "GLN",  "GLU",  "GLUH", "GLY",
    "HID",  "HIE",  "HIP",  "HIS",  "HIS1", "HIS2", "HISA", "HISB", "HISD", "HISE", "HISH", "HSD",
    "HSE",  "HSP",  "HYP",  "ILE",  "LEU",  "LYN",  "LYS",  "LYSH", "MET",  "MSE",  "NALA", "NARG",
    "NASN", "NASP", "NCYS", "NCYX", "NGLN", "NGLU", "NGLY", "NHID", "NHIE", "NHIP", "NILE", "NLEU",
    "NLYS", "NME",  "NMET", "NPHE", "NPRO", "NSER", "NTHR", "NTRP", "NTYR", "NVAL", "ORN",  "PGLU",
    "PHE",  "PRO",  "QLN",  "SER",  "THR",  "TRP",  "TYR",  "VAL",
};

// MDAnalysis's NucleicSelection.nucl_res, sorted.
constexpr std::array<std::string_view, 34> kNucleicResidues = {
    "A",   "ADE", "C",   "CYT", "DA",  "DA3", "DA5", "DC",  "DC3", "DC5", "DG",  "DG3",
    "DG5", "DT",  "DT3", "DT5", "G",   "GUA", "RA",  "RA3", "RA5", "RC",  "RC3", "RC5",
    "RG",  "RG3", "RG5", "RU",  "RU3", "RU5", "T",   "THY", "U",   "URA",
};

template <std::size_t N>
bool listed(const std::array<std::string_view, N>& sorted, std::string_view word) {
  return std::binary_search(sorted.begin(), sorted.end(), word);
}

}  // namespace

std::optional<Keyword> find_keyword(std::string_view word) {
  for (const Spelling& s : kKeywords) {
    if (s.word == word) return s.keyword;
  }
  return std::nullopt;
}

bool is_mdanalysis_keyword(std::string_view word) {
  return listed(kMdanalysisWords, word);
}

bool is_protein_residue(std::string_view resname) {
  return listed(kProteinResidues, resname);
}

bool is_nucleic_residue(std::string_view resname) {
  return listed(kNucleicResidues, resname);
}

bool is_backbone_atom(std::string_view name) {
  return name == "N" || name == "CA" || name == "C" || name == "O";
}

}  // namespace kvtraj::atomsel

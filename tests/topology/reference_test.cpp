// Every good topology fixture read as MDAnalysis reads it: the atoms, their attributes, the
// bonds, the positions and the cell against the .ref files that make_refs.py writes from
// MDAnalysis 2.4.2 (tests/data/topologies).
#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/testsupport/testsupport.hpp"
#include "topology/topology.hpp"

namespace kvtraj {
namespace {

using testing::data_path;

std::vector<std::string> split_tabs(const std::string& line) {
  std::vector<std::string> out;
  std::size_t begin = 0;
  for (std::size_t tab; (tab = line.find('\t', begin)) != std::string::npos; begin = tab + 1) {
    out.push_back(line.substr(begin, tab - begin));
  }
  out.push_back(line.substr(begin));
  return out;
}

struct Reference {
  std::optional<std::array<float, 6>> cell;
  std::set<std::string> has;
  std::vector<std::vector<std::string>> atoms;  // the 14 columns after "atom"
  std::optional<std::vector<std::array<std::int32_t, 2>>> bonds;
};

Reference load_reference(const std::string& path) {
  Reference ref;
  std::istringstream in(testing::read_file(path));
  for (std::string line; std::getline(in, line);) {
    const std::vector<std::string> f = split_tabs(line);
    if (f[0] == "cell" && f[1] != "none") {
      ref.cell.emplace();
      for (int k = 0; k < 6; ++k) (*ref.cell)[k] = std::stof(f[1 + k]);
    } else if (f[0] == "has") {
      ref.has.insert(f.begin() + 1, f.end());
    } else if (f[0] == "atom") {
      ref.atoms.emplace_back(f.begin() + 1, f.end());
    } else if (f[0] == "bonds" && f[1] != "none") {
      ref.bonds.emplace();
    } else if (f[0] == "bond") {
      ref.bonds->push_back({std::stoi(f[1]), std::stoi(f[2])});
    }
  }
  return ref;
}

// Near as float32 readings of the same text are: within a few units of the last place.
bool near(float ours, const std::string& theirs) {
  const float t = std::stof(theirs);
  return std::abs(ours - t) <= 4e-7f * std::max(1.0f, std::abs(t));
}

// The first atom whose attributes differ, and how; empty when all agree.
std::string first_difference(const Topology& top, const Reference& ref) {
  for (std::size_t i = 0; i < ref.atoms.size(); ++i) {
    const std::vector<std::string>& r = ref.atoms[i];
    std::ostringstream d;
    const auto text = [&](std::string_view what, std::string_view ours, const std::string& t) {
      if (ours != t) d << what << " " << ours << " (MDAnalysis " << t << ") ";
    };
    text("name", top.names[i], r[0]);
    text("type", top.types[i], r[1]);
    text("element", top.elements[i], r[2]);
    if (!near(top.masses[i], r[3])) d << "mass " << top.masses[i] << " vs " << r[3] << " ";
    if (ref.has.count("charges") && !near(top.charges[i], r[4])) d << "charge vs " << r[4] << " ";
    text("resid", std::to_string(top.resids[i]), r[5]);
    text("resname", top.resnames[i], r[6]);
    if (ref.has.count("icodes"))
      text("icode", std::string(1, top.icodes[i]), r[7].empty() ? " " : r[7]);
    text("segid", top.segids[i], r[8]);
    text("chain", top.chains[i], r[9]);
    for (std::size_t k = 0; k < 3 && ref.has.count("positions"); ++k) {
      if (!near(top.coordinates[3 * i + k], r[10 + k])) d << "position " << k << " ";
    }
    if (!d.str().empty()) return "atom " + std::to_string(i) + ": " + d.str();
  }
  return "";
}

class Reference_ : public ::testing::TestWithParam<const char*> {};

TEST_P(Reference_, ReadsWhatMDAnalysisReads) {
  const std::string name = GetParam();
  const Topology top = read_topology(data_path("topologies/" + name));
  const Reference ref = load_reference(data_path("topologies/" + name + ".ref"));
  ASSERT_EQ(top.natoms(), static_cast<std::int32_t>(ref.atoms.size()));
  for (const auto* column : {&top.types, &top.elements, &top.resnames, &top.chains, &top.segids}) {
    ASSERT_EQ(column->size(), top.names.size());
  }
  ASSERT_EQ(top.masses.size(), top.names.size());
  ASSERT_EQ(top.resids.size(), top.names.size());
  ASSERT_EQ(top.icodes.size(), top.names.size());
  ASSERT_EQ(top.charges.size(), ref.has.count("charges") ? top.names.size() : 0);
  ASSERT_EQ(top.coordinates.size(), ref.has.count("positions") ? 3 * top.names.size() : 0);
  EXPECT_EQ(first_difference(top, ref), "");

  ASSERT_EQ(top.cell.has_value(), ref.cell.has_value());
  if (ref.cell) {
    const std::array<float, 6> ours = {top.cell->a,     top.cell->b,    top.cell->c,
                                       top.cell->alpha, top.cell->beta, top.cell->gamma};
    for (int k = 0; k < 6; ++k) EXPECT_FLOAT_EQ(ours[k], (*ref.cell)[k]) << k;
  }
  EXPECT_EQ(top.has_bonds, ref.bonds.has_value());
  EXPECT_EQ(top.bonds, ref.bonds.value_or(std::vector<std::array<std::int32_t, 2>>{}));
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, Reference_,
    ::testing::Values("A6PA6_alpha.pdb", "namd_cgenff.pdb", "elements.pdb", "conect_parsing.pdb",
                      "nucl_res.pdb", "gmx_resid_wrap.pdb", "residwrap.gro",
                      "two_water_gro_widebox.gro", "huge_box.gro", "sameresid_diffresname.gro",
                      "parmed_ala3.psf", "namd_cgenff.psf", "1a2c_ins_code_cut.psf",
                      "ace_mbondi3.parm7", "ace_mbondi3_noz.parm7", "chitosan.prmtop"),
    [](const auto& info) {
      std::string name = info.param;
      for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
      }
      return name;
    });

}  // namespace
}  // namespace kvtraj

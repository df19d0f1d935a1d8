// The solvent of an input: the stored atoms of water molecules and ions, in runs of one residue
// each, which the error-bounded codec codes from their own past instead of the components.
#include <algorithm>
#include <array>

#include "frames/frames.hpp"

namespace kvtraj {
namespace {

// Residue names of water models and monatomic ions in the GROMACS, AMBER and CHARMM force
// fields.
constexpr std::array<std::string_view, 27> kSolventNames = {
    "SOL", "WAT",  "HOH", "H2O", "TIP3", "TIP3P", "TIP4", "TIP4P", "TIP5P",
    "SPC", "SPCE", "T3P", "T4P", "NA",   "CL",    "K",    "MG",    "CA",
    "ZN",  "LI",   "RB",  "CS",  "NA+",  "CL-",   "SOD",  "CLA",   "POT"};

bool solvent_name(std::string_view resname) {
  return std::find(kSolventNames.begin(), kSolventNames.end(), resname) != kSolventNames.end();
}

}  // namespace

std::vector<AtomRun> solvent_runs(const FramePlan& plan,
                                  std::optional<std::string_view> selection) {
  std::vector<AtomRun> runs;
  if (!plan.topology) return runs;
  const Topology& top = *plan.topology;
  std::vector<bool> chosen(static_cast<std::size_t>(top.natoms()), false);
  if (selection) {
    for (const std::int32_t a : plan.select(*selection)) chosen[static_cast<std::size_t>(a)] = true;
  } else {
    for (std::size_t a = 0; a < chosen.size(); ++a) chosen[a] = solvent_name(top.resnames[a]);
  }
  // A run continues while the stored atoms follow each other in the file within one residue.
  const auto same_residue = [&](std::int32_t a, std::int32_t b) {
    const auto i = static_cast<std::size_t>(a), j = static_cast<std::size_t>(b);
    return b == a + 1 && top.resids[i] == top.resids[j] &&
           top.resnames.indices()[i] == top.resnames.indices()[j];
  };
  for (std::size_t k = 0; k < plan.kept.size(); ++k) {
    const std::int32_t a = plan.kept[k];
    if (!chosen[static_cast<std::size_t>(a)]) continue;
    if (!runs.empty() && runs.back().first + runs.back().count == static_cast<std::int32_t>(k) &&
        same_residue(plan.kept[k - 1], a)) {
      ++runs.back().count;
    } else {
      runs.push_back({static_cast<std::int32_t>(k), 1});
    }
  }
  return runs;
}

}  // namespace kvtraj

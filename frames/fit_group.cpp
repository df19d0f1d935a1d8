// The fit group (--fit-select) and the reference structure (--ref) of a compression, over the
// atoms an input keeps.
#include <algorithm>

#include "frames/frames.hpp"
#include "support/fatal.hpp"

namespace kvtraj {

std::vector<float> fit_weights(const FramePlan& plan, std::string_view text) {
  const std::vector<std::int32_t> group = plan.select(text);
  std::vector<float> weights(plan.kept.size(), 0.0f);
  std::size_t outside = 0;
  for (const std::int32_t a : group) {
    const auto at = std::lower_bound(plan.kept.begin(), plan.kept.end(), a);
    if (at == plan.kept.end() || *at != a) {
      ++outside;
    } else {
      weights[static_cast<std::size_t>(at - plan.kept.begin())] = 1.0f;
    }
  }
  if (outside > 0) {
    die("the fit selection \"" + std::string(text) + "\" holds " + std::to_string(outside) +
        " atoms that are not stored; fit on atoms of the selection");
  }
  return weights;
}

std::vector<float> reference_structure(const FramePlan& plan, const std::string& path) {
  Topology ref = read_topology(path);
  if (ref.coordinates.empty()) die(path + ": a reference structure needs coordinates (PDB or GRO)");
  if (ref.natoms() != plan.file_atoms) {
    die(path + ": " + std::to_string(ref.natoms()) + " atoms, but the trajectory holds " +
        std::to_string(plan.file_atoms));
  }
  if (plan.molecules && ref.cell) {
    const PeriodicBox box(*ref.cell);
    if (box.valid()) {
      make_whole(*plan.molecules, ref.coordinates, box);
      gather(*plan.molecules, ref.coordinates, box);
    }
  }
  std::vector<float> out;
  out.reserve(3 * plan.kept.size());
  for (const std::int32_t a : plan.kept) {
    const auto at = ref.coordinates.begin() + 3 * static_cast<std::ptrdiff_t>(a);
    out.insert(out.end(), at, at + 3);
  }
  return out;
}

}  // namespace kvtraj

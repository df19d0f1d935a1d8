// The AMBER convention: global attribute Conventions naming "AMBER", dimensions frame, atom and
// spatial (= 3), a variable coordinates (frame, atom, spatial), and optionally cell_lengths
// (frame, cell_spatial) and cell_angles (frame, cell_angular) with both cell dimensions 3.
// Coordinates and cells may be stored as floats or doubles.
#include "fmtreaders/netcdf_layout.hpp"

#include <cstdint>
#include <initializer_list>

#include "fmtreaders/readers.hpp"
#include "support/netcdf_classic.hpp"

namespace kvtraj::readers {
namespace {

constexpr std::uint64_t kMaxAtoms = INT32_MAX / 3;

std::optional<std::uint64_t> dimension(const NcLayout& l, const char* name) {
  for (std::uint64_t id = 0; id < l.dims.size(); ++id) {
    if (l.dims[id].name == name) return id;
  }
  return std::nullopt;
}

std::optional<std::uint64_t> length(const NcLayout& l, const char* name) {
  const auto id = dimension(l, name);
  return id ? std::optional(l.dims[*id].length) : std::nullopt;
}

// The numeric variable `name` whose dimensions are exactly those named, or nothing.
std::optional<std::size_t> variable(const NcLayout& l, const char* name,
                                    std::initializer_list<const char*> dims) {
  for (std::size_t v = 0; v < l.vars.size(); ++v) {
    const NcVariable& var = l.vars[v];
    if (var.name != name) continue;
    if ((var.type != netcdf::kFloat && var.type != netcdf::kDouble) ||
        var.dims.size() != dims.size()) {
      return std::nullopt;
    }
    std::size_t k = 0;
    for (const char* dim : dims) {
      if (dimension(l, dim) != var.dims[k++]) return std::nullopt;
    }
    return v;
  }
  return std::nullopt;
}

}  // namespace

std::optional<AmberVariables> amber_variables(const NcLayout& l) {
  if (l.conventions.find("AMBER") == std::string::npos) {
    refuse("Error - netcdf file does not follow the AMBER conventions");
    return std::nullopt;
  }
  const auto atoms = length(l, "atom");
  if (length(l, "spatial") != std::uint64_t{3} || !dimension(l, "frame") || !atoms) {
    refuse("Error - netcdf file lacks the frame, atom or spatial dimension");
    return std::nullopt;
  }
  if (*atoms < 1 || *atoms > kMaxAtoms) {
    refuse("Error - bad atom count in netcdf file");
    return std::nullopt;
  }
  const auto coordinates = variable(l, "coordinates", {"frame", "atom", "spatial"});
  if (!coordinates) {
    refuse("Error - netcdf file has no coordinates (frame, atom, spatial)");
    return std::nullopt;
  }
  AmberVariables amber{static_cast<std::int32_t>(*atoms), *coordinates, {}, {}};
  if (length(l, "cell_spatial") == std::uint64_t{3} &&
      length(l, "cell_angular") == std::uint64_t{3}) {
    amber.lengths = variable(l, "cell_lengths", {"frame", "cell_spatial"});
    amber.angles = variable(l, "cell_angles", {"frame", "cell_angular"});
  }
  if (!amber.lengths || !amber.angles) amber.lengths = amber.angles = std::nullopt;
  return amber;
}

}  // namespace kvtraj::readers

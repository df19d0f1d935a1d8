// What a NetCDF file declares, as the AMBER readers need it: dimensions, the Conventions text and
// the variables with their types and dimensions (and, for classic-format files, where their data
// lies). Both readers fill it — the classic one from the header it parses, the NetCDF library's
// one (NetCDF-4 files) from the library — and `amber_variables` checks the AMBER convention on it
// once for both, with the same messages.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kvtraj::readers {

struct NcDimension {
  std::string name;
  std::uint64_t length = 0;  // of the unlimited dimension: the record count
  bool unlimited = false;
};

struct NcVariable {
  std::string name;
  std::uint32_t type = 0;           // an external type (support/netcdf_classic.hpp)
  std::vector<std::uint64_t> dims;  // indices into NcLayout::dims, checked against its size
  std::uint64_t begin = 0;          // classic files: the offset of its data (its first record)
};

struct NcLayout {
  std::vector<NcDimension> dims;
  std::vector<NcVariable> vars;
  std::string conventions;         // the global attribute Conventions, when it is text
  std::uint64_t record_bytes = 0;  // classic files: one record of every record variable
};

// The variables an AMBER trajectory is read from, as indices into NcLayout::vars.
struct AmberVariables {
  std::int32_t natoms = 0;
  std::size_t coordinates = 0;
  std::optional<std::size_t> lengths, angles;  // both or neither
};

// The AMBER variables of `layout`; nothing, with the reason reported, when it breaks the
// convention.
std::optional<AmberVariables> amber_variables(const NcLayout& layout);

}  // namespace kvtraj::readers

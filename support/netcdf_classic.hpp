// The codes of the classic NetCDF format (CDF-1, CDF-2, CDF-5) that both its reader and its
// writer use: the tags of the header's lists and the external types.
#pragma once

#include <cstdint>

namespace kvtraj::netcdf {

inline constexpr std::uint32_t kDimensionTag = 10;
inline constexpr std::uint32_t kVariableTag = 11;
inline constexpr std::uint32_t kAttributeTag = 12;

inline constexpr std::uint32_t kChar = 2;
inline constexpr std::uint32_t kFloat = 5;
inline constexpr std::uint32_t kDouble = 6;

}  // namespace kvtraj::netcdf

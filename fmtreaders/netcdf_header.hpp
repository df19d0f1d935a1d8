// The header of a classic-format NetCDF file (CDF-1, CDF-2 with 64-bit offsets, CDF-5), parsed
// into the layout the AMBER reader needs. Counts are checked against what the file can hold
// before anything is allocated for them, and the size of a record is computed from the
// dimensions (not taken from the header's own sizes), so that a lying header can only give
// refused reads, never reads outside the file. HDF5-based (NetCDF-4) files are not classic.
#pragma once

#include <cstdint>

#include "fmtreaders/binary_file.hpp"
#include "fmtreaders/netcdf_layout.hpp"

namespace kvtraj::readers {

enum class HeaderCheck { not_classic, refused, layout };

// Parses the header of `file` into `layout` when the result is HeaderCheck::layout. The
// unlimited dimension's length is the header's record count, or UINT64_MAX when the file was
// written as a stream whose count was never filled in.
HeaderCheck read_classic_header(BinaryFile& file, NcLayout& layout);

// Bytes of one value of a NetCDF external type, 0 for an unknown type.
std::uint64_t nc_type_size(std::uint32_t type);

}  // namespace kvtraj::readers

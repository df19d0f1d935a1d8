// The header of a classic-format NetCDF file (CDF-1, CDF-2 with 64-bit offsets, CDF-5), walked
// before the NetCDF library opens the file. The library allocates what header counts ask for
// without checking them against the file, and reads the missing part of a cut file as zeros;
// this walk refuses counts that the file cannot hold and gives where the records lie, so that
// the frame count stops at the last record the file holds whole. HDF5-based (NetCDF-4) files are
// not walked.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "fmtreaders/binary_file.hpp"

namespace kvtraj::readers {

struct ClassicLayout {
  std::uint64_t record_bytes = 0;  // one record: the per-frame slices of every record variable
  std::uint64_t records_end = 0;   // where the first record ends (begin of the record variable
                                   // that ends last, plus its slice)
};

enum class HeaderCheck { not_classic, refused, layout };

// Walks the header of `file`; `layout` is filled when the result is HeaderCheck::layout (a
// classic file without record variables gives zero record bytes).
HeaderCheck check_classic_header(BinaryFile& file, ClassicLayout& layout);

// The records a file of `file_bytes` bytes holds whole.
std::uint64_t whole_records(const ClassicLayout& layout, std::uint64_t file_bytes);

}  // namespace kvtraj::readers

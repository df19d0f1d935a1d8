// Inside the format readers: the frame header of GROMACS TRR files (XDR, big-endian), shared by
// the trajectory reader and the reader of stamped frames. The header holds the magic 1993, the
// version string (an int, then an XDR string: its length and its bytes padded to 4), thirteen
// ints — sizes in bytes of the input record, energies, box, virial, pressure, topology, symmetry,
// coordinates, velocities and forces, then natoms, step and nre — and the time and lambda as
// reals. The blocks whose sizes are not zero follow: box (3 × 3 reals), virial, pressure,
// coordinates, velocities, forces (3 × natoms reals each). The input record, energies, topology
// and symmetry blocks are never written by GROMACS; a header that claims one is refused.
//
// Reals are 4 or 8 bytes (a single or double precision GROMACS) and nothing but the block sizes
// tells which: every non-zero size must divide to the same real size, which must then hold for
// the whole file.
#pragma once

#include <cstdint>
#include <span>

#include "fmtreaders/binary_file.hpp"

namespace kvtraj::readers {

inline constexpr std::int32_t kTrrMagic = 1993;

// The sizes and stamps of one frame, checked against each other.
struct TrrHeader {
  std::uint64_t box = 0, vir = 0, pres = 0, x = 0, v = 0, f = 0;
  std::int32_t natoms = 0;
  std::int32_t step = 0;
  double time = 0.0;
  double lambda = 0.0;
  int real_bytes = 0;

  std::uint64_t data_bytes() const { return box + vir + pres + x + v + f; }
  // Bytes from the end of the header to the end of the coordinates.
  std::uint64_t through_x() const { return box + vir + pres + x; }
};

// Reads the header at the file's position into `h`: kIoOk, kIoEnd at a clean end of file, or
// kIoBadData for a header that is cut or malformed, or whose precision is not `real_bytes` (0:
// any). The file is left after the header.
int read_trr_header(BinaryFile& file, int real_bytes, TrrHeader& h);

// Whether the file opens with four bytes that are not the magic (it is put back at its start).
bool wrong_trr_magic(BinaryFile& file);

double big_real(const char* p, int real_bytes);
// n big-endian reals of `real_bytes` bytes from p, times `scale`, into out.
void decode_reals(const char* p, int real_bytes, std::size_t n, double scale, std::span<float> out);

}  // namespace kvtraj::readers

// The coordinate codec of GROMACS XTC files (the xdr3dfcoord algorithm), shared by the XTC
// reader and writer.
//
// Coordinates are rounded to integers on a grid of 1/precision, and a frame of more than nine
// atoms is stored as a block: precision, the smallest and largest integer of each axis, the
// starting size class of small differences, the byte count and a big-endian bit stream. In the
// stream each atom is either written in full (the three offsets from the minimum packed into one
// number) or, inside a run of up to eight neighbours, as a small difference from the previous
// atom; a two-atom run has its first pair swapped, which helps water. The size class of small
// differences moves up or down by one between runs. Frames of at most nine atoms hold plain
// floats instead and never reach this codec.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#pragma GCC visibility push(default)  // the installed interface, exported by shared builds

namespace kvtraj::xtc {

inline constexpr std::int32_t kMagic = 1995;
inline constexpr std::int32_t kMaxPlainAtoms = 9;     // up to this count: plain floats
inline constexpr float kDefaultPrecision = 1000.0f;   // grid steps per nm, as GROMACS
inline constexpr std::size_t kFrameHeaderBytes = 56;  // magic .. box, and the atom count again
inline constexpr std::size_t kBlockHeaderBytes = 36;  // precision .. byte count

// The fixed fields that open a compressed block.
struct BlockHeader {
  float precision = 0.0f;
  std::array<std::int32_t, 3> minint{}, maxint{};
  std::int32_t smallidx = 0;
  std::uint32_t bytes = 0;  // length of the bit stream (padded to 4 in the file)
};

std::uint32_t load_be32(const unsigned char* p);
void store_be32(std::uint32_t v, unsigned char* p);
float load_be_float(const unsigned char* p);

// Why the values of a block header cannot describe a block (none: they can).
enum class BlockFault {
  none,
  precision,     // not positive and finite
  range,         // a minimum above its maximum, or a range wider than 32-bit integers
  size_class,    // outside the table
  short_stream,  // too few bytes to hold the atoms
};
// The fault in words, as the XTC reader's messages give it ("bad precision").
std::string_view describe(BlockFault fault);

// Reads the kBlockHeaderBytes at p into h and checks them for a block of `natoms` atoms.
BlockFault parse_block_header(const unsigned char* p, std::int32_t natoms, BlockHeader& h);

// Decodes `natoms` atoms from the stream of h.bytes bytes at `bits` into out (3 × natoms values):
// each integer times 1/precision, then times `scale`. False when the stream ends before the
// atoms do or its run lengths or size classes leave the table; out may then be partly written.
bool decode(const BlockHeader& h, const unsigned char* bits, std::int32_t natoms, float scale,
            std::span<float> out);

// Encodes frames of more than kMaxPlainAtoms atoms, keeping its scratch between frames.
class Encoder {
 public:
  // Appends the block of `coords` (nm, x y z per atom) at `precision` to out: header, stream
  // and zero padding to a multiple of 4 bytes. False (out unchanged) when a coordinate times
  // precision, or an axis's range, does not fit in a 32-bit integer.
  bool encode(std::span<const float> coords, float precision, std::vector<unsigned char>& out);

 private:
  std::vector<std::int32_t> ints_;
};

}  // namespace kvtraj::xtc

#pragma GCC visibility pop

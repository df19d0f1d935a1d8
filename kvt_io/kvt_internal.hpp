// Pieces shared by the KVT readers and writer: array sizes checked against overflow and against
// the size of the file they come from, the quality transformation, the 16-bit projection codes of
// KVT6, binary field access and the fatal messages that name the file.
#pragma once

#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "kvt_io/kvt_io.hpp"
#include "support/fortran_input.hpp"

namespace kvtraj::kvt {

// The binary layouts are little-endian and are read and written in host order.
static_assert(std::endian::native == std::endian::little, "kvt_io needs a little-endian host");

// Element counts of the handle's arrays and the bytes they take together.
struct ArraySizes {
  std::uint64_t coords = 0;  // 3N
  std::uint64_t evecs = 0;   // 3N * nvecs
  std::uint64_t proj = 0;    // nframes * nvecs
  std::uint64_t bytes = 0;
};

// Nothing when a count is negative or a size does not fit in 64 bits.
std::optional<ArraySizes> array_sizes(std::int32_t natoms, std::int32_t nframes,
                                      std::int32_t nvecs);
// Allocates zeroed arrays of those sizes ("Memory allocation error" when that fails).
void allocate_arrays(kvtfile& kvtf, const ArraySizes& sizes);
// True when the arrays have the sizes the counts ask for (false after kvtclose released them).
bool arrays_match(const kvtfile& kvtf);
// Allocates the arrays a file header asks for, after checking that its counts are valid and
// that the arrays are in proportion to the `file_bytes` the file holds; fatal otherwise.
void allocate_for_file(kvtfile& kvtf, std::uint64_t file_bytes);
// Zeroes vector k (0-based) again after a failed read of its block.
void clear_vector(kvtfile& kvtf, std::size_t k);

// 100 x (sum of evals in single precision) / quality.
float quality_percentage(float quality, std::span<const float> evals);

// Offset and scale of one vector's KVT6 codes: projection = offset + code * scale.
struct CodeScale {
  float offset = 0.0f;
  float scale = 0.0f;
};
// Codes in -32767..32767 for every input (non-finite projections included).
CodeScale encode_projections(std::span<const float> proj, std::span<std::int16_t> codes);
void decode_projections(CodeScale cs, std::span<const std::int16_t> codes, std::span<float> proj);

// KVT4/KVT6 atom records: 16 bytes each, the number, the name in 4 characters, the residue
// number, the residue name in 3 and the chain in 1, texts cut and blank-padded.
inline constexpr std::size_t kAtomRecordBytes = 16;
std::vector<char> encode_atom_records(std::span<const AtomRecord> atoms);
std::vector<AtomRecord> decode_atom_records(std::span<const char> bytes);

// The readers, called by kvtopen with `filename`, `unit` and `magic` set.
void read_text(kvtfile& kvtf);
void read_records(kvtfile& kvtf);
void read_stream(kvtfile& kvtf);
// KVT7: the KVT4 layout by read_stream, then the coded part's header and index.
void read_bounded(kvtfile& kvtf);

// Ends the program with " <filename>: <what>" on standard error.
[[noreturn]] void die_file(const kvtfile& kvtf, std::string_view what);
// The size of the handle's file (fatal when it cannot be determined).
std::uint64_t size_of_file(const kvtfile& kvtf);

// Magic, title, three counts and quality: the first 100 bytes of the binary layouts.
inline constexpr std::size_t kCommonHeaderBytes = 100;
struct CommonHeader {
  std::int32_t counts[3] = {0, 0, 0};  // as stored: N or 3N, then F, V
  float quality = 0.0f;
};
CommonHeader parse_common_header(kvtfile& kvtf, const char* bytes);

inline std::int32_t get_i32(const char* bytes) {
  std::int32_t v = 0;
  std::memcpy(&v, bytes, sizeof v);
  return v;
}

// Reads exactly `bytes` bytes: kIoOk, kIoEnd (end of file) or kIoReadError.
inline int read_status(std::FILE* f, void* data, std::size_t bytes) {
  if (std::fread(data, 1, bytes, f) == bytes) return kIoOk;
  return std::ferror(f) ? kIoReadError : kIoEnd;
}

}  // namespace kvtraj::kvt

// The KVT4 and KVT6 streams: a 116-byte header, optional 16-byte atom records, the average,
// then one block per vector (reals, or for KVT6 an offset, a scale and 16-bit codes).
#include <cerrno>
#include <cstring>

#include "kvt_io/kvt_internal.hpp"
#include "support/fatal.hpp"
#include "support/files.hpp"
#include "support/fortran_input.hpp"

namespace kvtraj::kvt {
namespace {

constexpr std::size_t kHeaderBytes = 116;

// The atom records after the header: 16 bytes an atom, in proportion to the average that the
// file's size has been checked to hold. A file that ends inside them reads as one that ends
// inside its average.
int read_atom_records(kvtfile& kvtf, std::FILE* f) {
  std::vector<char> raw =
      allocate_or_die<char>(static_cast<std::size_t>(kvtf.natoms) * kAtomRecordBytes);
  const int status = read_status(f, raw.data(), raw.size());
  if (status == kIoOk) kvtf.atoms = decode_atom_records(raw);
  return status;
}

// Returns whether atom records follow.
bool read_header(kvtfile& kvtf, std::FILE* f) {
  char header[kHeaderBytes];
  if (!read_exact(f, header, sizeof header)) die_file(kvtf, "truncated kvt header");
  const CommonHeader h = parse_common_header(kvtf, header);
  kvtf.natoms = h.counts[0];
  kvtf.nframes = h.counts[1];
  kvtf.nvecs = h.counts[2];
  kvtf.quality = h.quality;
  return get_i32(header + 112) == 1 && kvtf.natoms > 0;
}

int read_reals(std::FILE* f, std::span<float> values) {
  return read_status(f, values.data(), values.size_bytes());
}

// Vector k (0-based) read straight into the handle's columns.
int read_vector(kvtfile& kvtf, std::FILE* f, std::size_t k, std::vector<std::int16_t>& codes) {
  const std::size_t n = kvtf.avg.size();
  const auto nf = static_cast<std::size_t>(kvtf.nframes);
  const std::span<float> proj(kvtf.proj.data() + k * nf, nf);
  int status = read_reals(f, std::span<float>(kvtf.evecs.data() + k * n, n));
  if (kvtf.magic != "KVT6") {
    if (status == kIoOk) status = read_reals(f, std::span<float>(&kvtf.evals[k], 1));
    return status == kIoOk ? read_reals(f, proj) : status;
  }
  float scalars[3];  // eigenvalue, offset, scale
  if (status == kIoOk) status = read_reals(f, scalars);
  if (status == kIoOk) status = read_status(f, codes.data(), codes.size() * sizeof(std::int16_t));
  if (status != kIoOk) return status;
  kvtf.evals[k] = scalars[0];
  decode_projections(CodeScale{scalars[1], scalars[2]}, codes, proj);
  return kIoOk;
}

}  // namespace

void read_stream(kvtfile& kvtf) {
  FilePtr f = open_file(kvtf.filename, "rb");
  if (!f) die_file(kvtf, std::string("cannot open the file: ") + std::strerror(errno));
  const bool atom_records = read_header(kvtf, f.get());
  allocate_for_file(kvtf, size_of_file(kvtf));
  if (atom_records) kvtf.status = read_atom_records(kvtf, f.get());
  if (kvtf.status == 0) kvtf.status = read_reals(f.get(), kvtf.avg);
  const bool coded = kvtf.magic == "KVT6" && kvtf.nvecs > 0;
  std::vector<std::int16_t> codes =
      allocate_or_die<std::int16_t>(coded ? static_cast<std::size_t>(kvtf.nframes) : 0);
  for (std::size_t k = 0; kvtf.status == 0 && k < static_cast<std::size_t>(kvtf.nvecs); ++k) {
    kvtf.status = read_vector(kvtf, f.get(), k, codes);
    if (kvtf.status != 0) clear_vector(kvtf, k);
  }
}

}  // namespace kvtraj::kvt

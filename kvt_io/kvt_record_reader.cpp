// KVT2: fixed-length records of R = max(100 + 12N, 12N + 4 + 4F) bytes. Record 1 holds the
// header, whose first count is 3N (coordinates, not atoms), and the average; record 1 + k holds
// vector k. Only the content of a record needs to be present, not its unused tail.
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "kvt_io/kvt_internal.hpp"
#include "support/files.hpp"
#include "support/fortran_input.hpp"
#include "support/sizes.hpp"

namespace kvtraj::kvt {
namespace {

// Reads `values` from byte `offset` of the file.
int read_at(std::FILE* f, std::uint64_t offset, std::span<float> values) {
  if (offset > static_cast<std::uint64_t>(INT64_MAX) ||
      fseeko(f, static_cast<off_t>(offset), SEEK_SET) != 0) {
    return kIoReadError;
  }
  return read_status(f, values.data(), values.size_bytes());
}

// Vector k (0-based) from record k + 2, read straight into the handle's columns.
int read_vector(kvtfile& kvtf, std::FILE* f, std::uint64_t record_bytes, std::size_t k) {
  const std::size_t n = kvtf.avg.size();
  const auto nf = static_cast<std::size_t>(kvtf.nframes);
  const auto offset =
      checked_mul(static_cast<std::int64_t>(k + 1), static_cast<std::int64_t>(record_bytes));
  if (!offset) return kIoReadError;
  int status = read_at(f, *offset, std::span<float>(kvtf.evecs.data() + k * n, n));
  if (status == kIoOk) status = read_status(f, &kvtf.evals[k], sizeof(float));
  if (status == kIoOk) status = read_status(f, kvtf.proj.data() + k * nf, nf * sizeof(float));
  return status;
}

}  // namespace

void read_records(kvtfile& kvtf) {
  FilePtr f = open_file(kvtf.filename, "rb");
  if (!f) die_file(kvtf, std::string("cannot open the file: ") + std::strerror(errno));
  char header[kCommonHeaderBytes];
  kvtf.status = read_status(f.get(), header, sizeof header);
  if (kvtf.status != 0) return;
  const CommonHeader h = parse_common_header(kvtf, header);
  kvtf.natoms = h.counts[0] / 3;
  kvtf.nframes = h.counts[1];
  kvtf.nvecs = h.counts[2];
  kvtf.quality = h.quality;
  allocate_for_file(kvtf, size_of_file(kvtf));
  // Counts are valid and the arrays exist, so these sums cannot overflow.
  const std::uint64_t coords_bytes = kvtf.avg.size() * sizeof(float);
  const std::uint64_t record_bytes =
      std::max<std::uint64_t>(kCommonHeaderBytes + coords_bytes,
                              coords_bytes + 4 + 4 * static_cast<std::uint64_t>(kvtf.nframes));
  kvtf.status = read_at(f.get(), kCommonHeaderBytes, kvtf.avg);
  for (std::size_t k = 0; kvtf.status == 0 && k < static_cast<std::size_t>(kvtf.nvecs); ++k) {
    kvtf.status = read_vector(kvtf, f.get(), record_bytes, k);
    if (kvtf.status != 0) clear_vector(kvtf, k);
  }
}

}  // namespace kvtraj::kvt

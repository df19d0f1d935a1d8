// Sizes and allocation of a handle's arrays.
#include <sys/mman.h>

#include <algorithm>
#include <cstdint>

#include "kvt_io/kvt_internal.hpp"
#include "support/fatal.hpp"
#include "support/sizes.hpp"

namespace kvtraj::kvt {
namespace {

// A file may be cut short, so its arrays can exceed what it holds; beyond this proportion the
// header cannot describe the file and nothing is allocated. The slack is small, so that a few
// bytes of garbage cannot make the reader allocate and clear large arrays.
constexpr std::uint64_t kRoomFactor = 8;
constexpr std::uint64_t kRoomSlack = std::uint64_t{1} << 20;

std::optional<std::uint64_t> total_bytes(const ArraySizes& s, std::int32_t nvecs) {
  auto n = checked_add(s.coords, static_cast<std::uint64_t>(nvecs));
  if (n) n = checked_add(*n, s.evecs);
  if (n) n = checked_add(*n, s.proj);
  if (!n || *n > UINT64_MAX / sizeof(float)) return std::nullopt;
  return *n * sizeof(float);
}

// A zeroed array of n reals. Fresh memory costs a page fault per 4 KiB page on first touch,
// which for large handles takes longer than reading the file; large arrays therefore ask the
// kernel for huge pages before they are first touched (a hint that may be ignored).
std::vector<float> allocate_reals(std::size_t n) {
  constexpr std::uintptr_t kHugePage = std::uintptr_t{1} << 21;
  std::vector<float> v;
  try {
    v.reserve(n);
  } catch (const std::bad_alloc&) {
    die("Memory allocation error");
  } catch (const std::length_error&) {
    die("Memory allocation error");
  }
  const auto begin = reinterpret_cast<std::uintptr_t>(v.data());
  const std::uintptr_t end = begin + n * sizeof(float);
  const std::uintptr_t first = (begin + kHugePage - 1) & ~(kHugePage - 1);
  if (end > first + kHugePage) {
    ::madvise(reinterpret_cast<void*>(first), (end - first) & ~(kHugePage - 1), MADV_HUGEPAGE);
  }
  v.resize(n);  // within the reserved capacity: no further allocation
  return v;
}

}  // namespace

std::optional<ArraySizes> array_sizes(std::int32_t natoms, std::int32_t nframes,
                                      std::int32_t nvecs) {
  if (natoms < 0 || nframes < 0 || nvecs < 0) return std::nullopt;
  ArraySizes s;
  s.coords = std::uint64_t{3} * static_cast<std::uint64_t>(natoms);
  const auto evecs = checked_mul(static_cast<std::int64_t>(s.coords), nvecs);
  const auto proj = checked_mul(nframes, nvecs);
  if (!evecs || !proj) return std::nullopt;
  s.evecs = *evecs;
  s.proj = *proj;
  const auto bytes = total_bytes(s, nvecs);
  if (!bytes) return std::nullopt;
  s.bytes = *bytes;
  return s;
}

void allocate_arrays(kvtfile& kvtf, const ArraySizes& sizes) {
  kvtf.avg = allocate_reals(sizes.coords);
  kvtf.evals = allocate_reals(static_cast<std::size_t>(kvtf.nvecs));
  kvtf.evecs = allocate_reals(sizes.evecs);
  kvtf.proj = allocate_reals(sizes.proj);
}

bool arrays_match(const kvtfile& kvtf) {
  const auto s = array_sizes(kvtf.natoms, kvtf.nframes, kvtf.nvecs);
  return s && kvtf.avg.size() == s->coords &&
         kvtf.evals.size() == static_cast<std::size_t>(kvtf.nvecs) &&
         kvtf.evecs.size() == s->evecs && kvtf.proj.size() == s->proj;
}

void allocate_for_file(kvtfile& kvtf, std::uint64_t file_bytes) {
  const auto sizes = array_sizes(kvtf.natoms, kvtf.nframes, kvtf.nvecs);
  const std::string counts = "(natoms " + std::to_string(kvtf.natoms) + ", nframes " +
                             std::to_string(kvtf.nframes) + ", nvecs " +
                             std::to_string(kvtf.nvecs) + ")";
  if (!sizes) die_file(kvtf, "invalid kvt header counts " + counts);
  const std::uint64_t room =
      std::min(file_bytes, UINT64_MAX / (2 * kRoomFactor)) * kRoomFactor + kRoomSlack;
  if (sizes->bytes > room) {
    die_file(kvtf, "kvt header counts " + counts + " exceed what the file holds");
  }
  allocate_arrays(kvtf, *sizes);
}

void clear_vector(kvtfile& kvtf, std::size_t k) {
  const std::size_t n = kvtf.avg.size();
  const std::size_t f = static_cast<std::size_t>(kvtf.nframes);
  std::fill_n(kvtf.evecs.begin() + static_cast<std::ptrdiff_t>(k * n), n, 0.0f);
  std::fill_n(kvtf.proj.begin() + static_cast<std::ptrdiff_t>(k * f), f, 0.0f);
  kvtf.evals[k] = 0.0f;
}

float quality_percentage(float quality, std::span<const float> evals) {
  float sum = 0.0f;
  for (float e : evals) sum += e;
  return sum * 100.0f / quality;
}

}  // namespace kvtraj::kvt

// kvtcreate and kvtwrite: a new handle filled in memory, vector by vector.
#include <algorithm>

#include "kvt_io/kvt_internal.hpp"
#include "support/fatal.hpp"
#include "support/fixed_text.hpp"

namespace kvtraj {
namespace {

[[noreturn]] void die_short(std::string_view who, std::string_view what, std::size_t has,
                            std::uint64_t wants) {
  die(std::string(who) + ": " + std::string(what) + " holds " + std::to_string(has) +
      " reals, expected " + std::to_string(wants));
}

}  // namespace

kvtfile kvtcreate(std::int32_t unit, std::string_view filename, std::string_view title,
                  std::int32_t natoms, std::int32_t nframes, std::int32_t nvecs, float quality,
                  std::span<const float> avg) {
  kvtfile kvtf;
  kvtf.filename = std::string(trim_right(filename));
  kvtf.title = std::string(trim_right(title.substr(0, std::min(title.size(), kTitleLength))));
  kvtf.unit = unit;
  kvtf.magic = "KVT4";
  kvtf.natoms = natoms;
  kvtf.nframes = nframes;
  kvtf.nvecs = nvecs;
  kvtf.quality = quality;
  const auto sizes = kvt::array_sizes(natoms, nframes, nvecs);
  if (!sizes) {
    die("kvtcreate: invalid counts (natoms " + std::to_string(natoms) + ", nframes " +
        std::to_string(nframes) + ", nvecs " + std::to_string(nvecs) + ")");
  }
  if (avg.size() < sizes->coords) die_short("kvtcreate", "average", avg.size(), sizes->coords);
  kvt::allocate_arrays(kvtf, *sizes);
  std::copy_n(avg.begin(), kvtf.avg.size(), kvtf.avg.begin());
  return kvtf;
}

std::int32_t kvtwrite(kvtfile& kvtf, std::int32_t ivec, std::span<const float> evec, float eval,
                      std::span<const float> proj) {
  if (ivec < 1 || ivec > kvtf.nvecs) return -1;
  if (!kvt::arrays_match(kvtf)) die("kvtwrite: the handle holds no arrays (closed?)");
  const std::size_t n = kvtf.avg.size();
  const auto f = static_cast<std::size_t>(kvtf.nframes);
  if (evec.size() < n) die_short("kvtwrite", "eigenvector", evec.size(), n);
  if (proj.size() < f) die_short("kvtwrite", "projection", proj.size(), f);
  const auto k = static_cast<std::size_t>(ivec - 1);
  std::copy_n(evec.begin(), n, kvtf.evecs.begin() + static_cast<std::ptrdiff_t>(k * n));
  std::copy_n(proj.begin(), f, kvtf.proj.begin() + static_cast<std::ptrdiff_t>(k * f));
  kvtf.evals[k] = eval;
  return 0;
}

}  // namespace kvtraj

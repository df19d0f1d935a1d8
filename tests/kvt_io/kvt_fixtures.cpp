#include "tests/kvt_io/kvt_fixtures.hpp"

#include <span>

namespace kvtraj::testing {

KvtSample make_sample(std::int32_t natoms, std::int32_t nframes, std::int32_t nvecs) {
  KvtSample s;
  s.natoms = natoms;
  s.nframes = nframes;
  s.nvecs = nvecs;
  const auto n = static_cast<std::size_t>(3 * natoms);
  const auto f = static_cast<std::size_t>(nframes);
  const auto v = static_cast<std::size_t>(nvecs);
  // Multiples of 1/8 are exact in binary and in three decimals.
  for (std::size_t j = 0; j < n; ++j) s.avg.push_back(0.125f * static_cast<float>(j) - 2.0f);
  for (std::size_t k = 0; k < v; ++k) s.evals.push_back(10.0f / static_cast<float>(k + 1));
  for (std::size_t i = 0; i < n * v; ++i) {
    s.evecs.push_back(0.125f * static_cast<float>(i % 17) - 1.0f + static_cast<float>(i / 17));
  }
  for (std::size_t i = 0; i < f * v; ++i) {
    s.proj.push_back(0.375f * static_cast<float>(i) - 5.0f * static_cast<float>(i % 3));
  }
  return s;
}

kvtfile handle_of(const KvtSample& s, const std::string& path, float quality) {
  kvtfile h = kvtcreate(11, path, "sample title", s.natoms, s.nframes, s.nvecs, quality, s.avg);
  const auto n = static_cast<std::size_t>(3 * s.natoms);
  const auto f = static_cast<std::size_t>(s.nframes);
  for (std::int32_t k = 1; k <= s.nvecs; ++k) {
    const auto c = static_cast<std::size_t>(k - 1);
    kvtwrite(h, k, std::span<const float>(s.evecs).subspan(c * n, n), s.evals[c],
             std::span<const float>(s.proj).subspan(c * f, f));
  }
  return h;
}

std::int32_t write_sample(const KvtSample& s, const std::string& path, const std::string& magic,
                          float quality) {
  kvtfile h = handle_of(s, path, quality);
  h.magic = magic;
  return kvtclose(h);
}

std::string literal_regex(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (std::string_view("\\^$.|?*+()[]{}").find(c) != std::string_view::npos) out += '\\';
    out += c;
  }
  return out;
}

}  // namespace kvtraj::testing

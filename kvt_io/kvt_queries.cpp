// Queries on a handle in memory: stored arrays, scores, rebuilt snapshots, Mahalanobis
// distances and per-atom eigenvector lengths.
#include <algorithm>
#include <cmath>

#include "kvt_io/kvt_internal.hpp"
#include "support/fatal.hpp"

namespace kvtraj {
namespace {

// Every query indexes the arrays by the counts, so they must agree.
void require_arrays(const kvtfile& kvtf, std::string_view who) {
  if (!kvt::arrays_match(kvtf)) die(std::string(who) + ": the handle holds no arrays (closed?)");
}

// "kvtevec: vector index 7 outside 1..5"
void require_range(std::string_view who, std::string_view what, std::int32_t index, std::int32_t lo,
                   std::int32_t hi) {
  if (index >= lo && index <= hi) return;
  die(std::string(who) + ": " + std::string(what) + " " + std::to_string(index) + " outside " +
      std::to_string(lo) + ".." + std::to_string(hi));
}

// Column `ivec` (1-based) of a column-major array with `rows` rows.
std::vector<float> column(const std::vector<float>& a, std::size_t rows, std::int32_t ivec) {
  const auto begin = a.begin() + static_cast<std::ptrdiff_t>(rows * (ivec - 1));
  return std::vector<float>(begin, begin + static_cast<std::ptrdiff_t>(rows));
}

std::size_t frames(const kvtfile& kvtf) {
  return static_cast<std::size_t>(kvtf.nframes);
}

}  // namespace

std::vector<float> kvtavg(const kvtfile& kvtf) {
  return kvtf.avg;
}

std::vector<float> kvtevals(const kvtfile& kvtf) {
  return kvtf.evals;
}

std::vector<float> kvtevec(const kvtfile& kvtf, std::int32_t ivec) {
  require_arrays(kvtf, "kvtevec");
  require_range("kvtevec", "vector index", ivec, 1, kvtf.nvecs);
  return column(kvtf.evecs, kvtf.avg.size(), ivec);
}

std::vector<float> kvtproj(const kvtfile& kvtf, std::int32_t ivec) {
  require_arrays(kvtf, "kvtproj");
  require_range("kvtproj", "vector index", ivec, 1, kvtf.nvecs);
  return column(kvtf.proj, frames(kvtf), ivec);
}

std::vector<float> kvtscores(const kvtfile& kvtf, std::int32_t iframe) {
  require_arrays(kvtf, "kvtscores");
  require_range("kvtscores", "snapshot index", iframe, 1, kvtf.nframes);
  std::vector<float> scores(static_cast<std::size_t>(kvtf.nvecs));
  for (std::size_t k = 0; k < scores.size(); ++k) {
    scores[k] = kvtf.proj[k * frames(kvtf) + static_cast<std::size_t>(iframe - 1)];
  }
  return scores;
}

std::vector<float> kvtsnap(const kvtfile& kvtf, std::int32_t iframe,
                           std::optional<std::int32_t> first, std::optional<std::int32_t> last) {
  std::vector<float> snap(kvtf.avg.size());
  kvtsnap(kvtf, iframe, snap, first, last);
  return snap;
}

void kvtsnap(const kvtfile& kvtf, std::int32_t iframe, std::span<float> out,
             std::optional<std::int32_t> first, std::optional<std::int32_t> last) {
  require_arrays(kvtf, "kvtsnap");
  const std::size_t n = kvtf.avg.size();
  if (out.size() != n) {
    die("kvtsnap: output holds " + std::to_string(out.size()) + " reals, expected " +
        std::to_string(n));
  }
  std::copy(kvtf.avg.begin(), kvtf.avg.end(), out.begin());
  if (kvtf.status != 0 || iframe < 1 || iframe > kvtf.nframes) return;
  const std::int32_t lo = std::max(first.value_or(1), 1);
  const std::int32_t hi = last ? std::min(*last, kvtf.nvecs) : kvtf.nvecs;
  for (std::int32_t k = lo; k <= hi; ++k) {
    const auto col = static_cast<std::size_t>(k - 1);
    const float c = kvtf.proj[col * frames(kvtf) + static_cast<std::size_t>(iframe - 1)];
    const float* evec = kvtf.evecs.data() + col * n;
    float* result = out.data();
    for (std::size_t j = 0; j < n; ++j) result[j] = c * evec[j] + result[j];
  }
}

std::vector<float> kvtmaha(const kvtfile& kvtf, std::int32_t nv) {
  require_arrays(kvtf, "kvtmaha");
  require_range("kvtmaha", "vector count", nv, 0, kvtf.nvecs);
  std::vector<float> dist(frames(kvtf));
  for (std::size_t i = 0; i < dist.size(); ++i) {
    float sum = 0.0f;
    for (std::size_t k = 0; k < static_cast<std::size_t>(nv); ++k) {
      const float s = kvtf.proj[k * frames(kvtf) + i];
      sum += s * s / kvtf.evals[k];
    }
    dist[i] = std::sqrt(sum);
  }
  return dist;
}

std::vector<float> kvtfluc(const kvtfile& kvtf, std::int32_t ivec) {
  require_arrays(kvtf, "kvtfluc");
  require_range("kvtfluc", "vector index", ivec, 1, kvtf.nvecs);
  std::vector<float> fluc(static_cast<std::size_t>(kvtf.natoms));
  if (kvtf.status != 0) return fluc;
  const float* v = kvtf.evecs.data() + kvtf.avg.size() * static_cast<std::size_t>(ivec - 1);
  for (std::size_t a = 0; a < fluc.size(); ++a) {
    const float x = v[3 * a], y = v[3 * a + 1], z = v[3 * a + 2];
    fluc[a] = std::sqrt((x * x + y * y) + z * z);
  }
  return fluc;
}

}  // namespace kvtraj

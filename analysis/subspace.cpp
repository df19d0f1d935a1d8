// Comparisons of two sets of vectors: inner products, RMSIP, cumulative and covariance overlap.
// Sums run in double; the vectors are unit length as stored, but the cumulative overlap
// normalises them as MDAnalysis does.
#include <cmath>
#include <numeric>

#include "analysis/analysis.hpp"

namespace kvtraj::analysis {
namespace {

double dot(std::span<const float> a, std::span<const float> b) {
  double s = 0.0;
  for (std::size_t i = 0; i < a.size(); ++i) s += static_cast<double>(a[i]) * b[i];
  return s;
}

std::span<const float> column(std::span<const float> v, std::int32_t k, std::size_t n) {
  return v.subspan(static_cast<std::size_t>(k) * n, n);
}

double sum_of(std::span<const float> values) {
  return std::accumulate(values.begin(), values.end(), 0.0);
}

}  // namespace

std::vector<double> overlap_matrix(std::span<const float> a, std::int32_t ka,
                                   std::span<const float> b, std::int32_t kb, std::size_t n) {
  std::vector<double> m(static_cast<std::size_t>(ka) * kb);
  for (std::int32_t j = 0; j < kb; ++j) {
    for (std::int32_t i = 0; i < ka; ++i) {
      m[i + static_cast<std::size_t>(ka) * j] = std::abs(dot(column(a, i, n), column(b, j, n)));
    }
  }
  return m;
}

double rmsip(std::span<const float> a, std::int32_t ka, std::span<const float> b, std::int32_t kb,
             std::size_t n) {
  if (ka < 1) return 0.0;
  double sum = 0.0;
  for (double o : overlap_matrix(a, ka, b, kb, n)) sum += o * o;
  return std::sqrt(sum / ka);
}

double cumulative_overlap(std::span<const float> a, std::int32_t i, std::span<const float> b,
                          std::int32_t kb, std::size_t n) {
  const std::span<const float> v = column(a, i, n);
  const double vv = dot(v, v);
  double sum = 0.0;
  for (std::int32_t j = 0; j < kb; ++j) {
    const std::span<const float> w = column(b, j, n);
    const double ww = dot(w, w);
    if (vv > 0.0 && ww > 0.0) sum += dot(v, w) * dot(v, w) / (vv * ww);
  }
  return std::sqrt(sum);
}

double covariance_overlap(std::span<const float> a, std::span<const float> a_values,
                          std::span<const float> b, std::span<const float> b_values,
                          std::size_t n) {
  const double traces = sum_of(a_values) + sum_of(b_values);
  if (!(traces > 0.0)) return 1.0;
  double cross = 0.0;
  for (std::size_t i = 0; i < a_values.size(); ++i) {
    for (std::size_t j = 0; j < b_values.size(); ++j) {
      const double d = dot(column(a, static_cast<std::int32_t>(i), n),
                           column(b, static_cast<std::int32_t>(j), n));
      cross += std::sqrt(std::max(0.0, static_cast<double>(a_values[i]) * b_values[j])) * d * d;
    }
  }
  // The distance between the two covariances, over the largest it can be.
  return 1.0 - std::sqrt(std::max(0.0, traces - 2.0 * cross) / traces);
}

}  // namespace kvtraj::analysis

#include "reference_fit.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace kvtraj::testing {
namespace {

double weight_of(std::span<const float> weights, std::size_t k) {
  return weights.empty() ? 1.0 : weights[k];
}

std::array<double, 3> centre(std::span<const float> set, std::span<const float> weights) {
  std::array<double, 3> c{};
  double total = 0.0;
  for (std::size_t k = 0; k < set.size() / 3; ++k) {
    const double w = weight_of(weights, k);
    total += w;
    for (int i = 0; i < 3; ++i) c[i] += w * set[3 * k + i];
  }
  for (double& v : c) v /= total;
  return c;
}

}  // namespace

void symmetric_eigen(std::vector<double> a, int n, std::vector<double>& values,
                     std::vector<double>& vectors) {
  vectors.assign(static_cast<std::size_t>(n * n), 0.0);
  for (int i = 0; i < n; ++i) vectors[i + i * n] = 1.0;
  auto at = [n](std::vector<double>& m, int i, int j) -> double& { return m[i + j * n]; };
  for (int iteration = 0; iteration < 100 * n * n; ++iteration) {
    int p = 0, q = 1;  // the largest off-diagonal element
    double largest = -1.0;
    for (int j = 1; j < n; ++j) {
      for (int i = 0; i < j; ++i) {
        if (std::fabs(at(a, i, j)) > largest) largest = std::fabs(at(a, i, j)), p = i, q = j;
      }
    }
    if (largest <= 1e-300) break;
    const double theta = 0.5 * std::atan2(2.0 * at(a, p, q), at(a, q, q) - at(a, p, p));
    const double c = std::cos(theta), s = std::sin(theta);
    for (int k = 0; k < n; ++k) {  // a = J^T a J, J rotating columns p and q
      const double kp = at(a, k, p), kq = at(a, k, q);
      at(a, k, p) = c * kp - s * kq;
      at(a, k, q) = s * kp + c * kq;
    }
    for (int k = 0; k < n; ++k) {
      const double pk = at(a, p, k), qk = at(a, q, k);
      at(a, p, k) = c * pk - s * qk;
      at(a, q, k) = s * pk + c * qk;
    }
    for (int k = 0; k < n; ++k) {
      const double kp = at(vectors, k, p), kq = at(vectors, k, q);
      at(vectors, k, p) = c * kp - s * kq;
      at(vectors, k, q) = s * kp + c * kq;
    }
    if (largest < 1e-15 * std::sqrt(std::inner_product(a.begin(), a.end(), a.begin(), 0.0))) {
      break;
    }
  }
  std::vector<int> order(static_cast<std::size_t>(n));
  std::iota(order.begin(), order.end(), 0);
  std::sort(order.begin(), order.end(), [&](int x, int y) { return at(a, x, x) < at(a, y, y); });
  values.clear();
  std::vector<double> sorted(vectors.size());
  for (int j = 0; j < n; ++j) {
    values.push_back(at(a, order[j], order[j]));
    for (int i = 0; i < n; ++i) sorted[i + j * n] = vectors[i + order[j] * n];
  }
  vectors.swap(sorted);
}

ReferenceFit reference_fit(std::span<const float> reference, std::span<const float> moving,
                           std::span<const float> weights) {
  const auto ca = centre(reference, weights);
  const auto cb = centre(moving, weights);
  double s[3][3] = {};  // s[i][j] = sum w b_i a_j, centred
  for (std::size_t k = 0; k < reference.size() / 3; ++k) {
    const double w = weight_of(weights, k);
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j) {
        s[i][j] += w * (moving[3 * k + i] - cb[i]) * (reference[3 * k + j] - ca[j]);
      }
    }
  }
  const double n4[16] = {s[0][0] + s[1][1] + s[2][2],
                         s[1][2] - s[2][1],
                         s[2][0] - s[0][2],
                         s[0][1] - s[1][0],
                         s[1][2] - s[2][1],
                         s[0][0] - s[1][1] - s[2][2],
                         s[0][1] + s[1][0],
                         s[2][0] + s[0][2],
                         s[2][0] - s[0][2],
                         s[0][1] + s[1][0],
                         -s[0][0] + s[1][1] - s[2][2],
                         s[1][2] + s[2][1],
                         s[0][1] - s[1][0],
                         s[2][0] + s[0][2],
                         s[1][2] + s[2][1],
                         -s[0][0] - s[1][1] + s[2][2]};
  std::vector<double> values, vectors;
  symmetric_eigen(std::vector<double>(n4, n4 + 16), 4, values, vectors);
  const double q0 = vectors[12], q1 = vectors[13], q2 = vectors[14], q3 = vectors[15];
  ReferenceFit fit;
  fit.rot = {q0 * q0 + q1 * q1 - q2 * q2 - q3 * q3,
             2 * (q1 * q2 + q0 * q3),
             2 * (q1 * q3 - q0 * q2),
             2 * (q1 * q2 - q0 * q3),
             q0 * q0 - q1 * q1 + q2 * q2 - q3 * q3,
             2 * (q2 * q3 + q0 * q1),
             2 * (q1 * q3 + q0 * q2),
             2 * (q2 * q3 - q0 * q1),
             q0 * q0 - q1 * q1 - q2 * q2 + q3 * q3};
  for (int i = 0; i < 3; ++i) {
    fit.trans[i] = ca[i];
    for (int j = 0; j < 3; ++j) fit.trans[i] -= fit.rot[i + 3 * j] * cb[j];
  }
  double sum = 0.0, total = 0.0;
  for (std::size_t k = 0; k < reference.size() / 3; ++k) {
    const double w = weight_of(weights, k);
    total += w;
    for (int i = 0; i < 3; ++i) {
      double x = fit.trans[i];
      for (int j = 0; j < 3; ++j) x += fit.rot[i + 3 * j] * moving[3 * k + j];
      sum += w * (x - reference[3 * k + i]) * (x - reference[3 * k + i]);
    }
  }
  fit.rms = std::sqrt(sum / total);
  return fit;
}

std::array<double, 9> rotation(std::array<double, 3> axis, double angle) {
  const double len = std::sqrt(axis[0] * axis[0] + axis[1] * axis[1] + axis[2] * axis[2]);
  const double x = axis[0] / len, y = axis[1] / len, z = axis[2] / len;
  const double c = std::cos(angle), s = std::sin(angle), t = 1.0 - c;
  return {t * x * x + c,     t * x * y + s * z, t * x * z - s * y, t * x * y - s * z, t * y * y + c,
          t * y * z + s * x, t * x * z + s * y, t * y * z - s * x, t * z * z + c};
}

std::vector<float> random_set(std::mt19937& rng, int n, double spread, double centre) {
  std::normal_distribution<double> normal(centre, spread);
  std::vector<float> set(3 * static_cast<std::size_t>(n));
  for (float& v : set) v = static_cast<float>(normal(rng));
  return set;
}

std::vector<float> moved(std::span<const float> set, const std::array<double, 9>& rot,
                         const std::array<double, 3>& trans) {
  std::vector<float> out(set.size());
  for (std::size_t k = 0; k < set.size() / 3; ++k) {
    for (int i = 0; i < 3; ++i) {
      double x = trans[i];
      for (int j = 0; j < 3; ++j) x += rot[i + 3 * j] * set[3 * k + j];
      out[3 * k + i] = static_cast<float>(x);
    }
  }
  return out;
}

double rms_distance(std::span<const float> a, std::span<const float> b,
                    std::span<const float> weights) {
  double sum = 0.0, total = 0.0;
  for (std::size_t k = 0; k < a.size() / 3; ++k) {
    const double w = weight_of(weights, k);
    total += w;
    for (int i = 0; i < 3; ++i)
      sum += w * (a[3 * k + i] - b[3 * k + i]) * (a[3 * k + i] - b[3 * k + i]);
  }
  return std::sqrt(sum / total);
}

double orthogonality_error(std::span<const float> rot) {
  double worst = 0.0;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      double d = 0.0;
      for (int k = 0; k < 3; ++k) d += double{rot[k + 3 * i]} * rot[k + 3 * j];
      worst = std::max(worst, std::fabs(d - (i == j ? 1.0 : 0.0)));
    }
  }
  return worst;
}

double determinant(std::span<const float> r) {
  return double{r[0]} * (double{r[4]} * r[8] - double{r[7]} * r[5]) -
         double{r[3]} * (double{r[1]} * r[8] - double{r[7]} * r[2]) +
         double{r[6]} * (double{r[1]} * r[5] - double{r[4]} * r[2]);
}

}  // namespace kvtraj::testing

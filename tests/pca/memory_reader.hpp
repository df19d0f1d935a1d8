// Frames held in memory, served to the engine as a trajectory; a test can mark them slow (to
// exercise the temporary copy), change their fingerprint after a number of passes, make frames
// unreadable, or refuse further readers. And generators of frames with a known kind of spectrum,
// and the eigenvalues of frames computed directly in double.
#pragma once

#include <algorithm>
#include <atomic>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "pca/blas.hpp"
#include "pca/pca.hpp"
#include "support/fatal.hpp"

namespace kvtraj::pca::testing {

class MemoryReader : public FrameReader {
 public:
  MemoryReader(std::vector<float> frames, std::int32_t natoms)
      : data_(std::move(frames)), natoms_(natoms) {}
  std::int32_t natoms() const override { return natoms_; }
  std::int64_t frames() const override {
    return static_cast<std::int64_t>(data_.size()) / (3 * natoms_);
  }
  std::string name() const override { return "memory"; }
  void read(std::int64_t first, std::int64_t count, std::span<float> out) override {
    fill(first, count, out);
  }
  bool slow() const override { return slow_; }
  // Reads through this one, so that `reads_` counts them all.
  std::unique_ptr<FrameReader> another() const override {
    if (one_reader_) return nullptr;
    ++others_;
    return std::make_unique<Forward>(*this);
  }
  std::string fingerprint() const override { return reads_ > change_after_ ? "changed" : "same"; }

  bool slow_ = false;
  bool one_reader_ = false;  // another() gives nothing: the engine shares this one out
  std::int64_t change_after_ = INT64_MAX;        // frames read before the input "changes"
  std::int64_t bad_from_ = INT64_MAX;            // reading this frame or a later one is fatal
  mutable std::atomic<std::int64_t> reads_ = 0;  // by this reader and those another() gave
  mutable int others_ = 0;                       // further readers given

 private:
  class Forward : public FrameReader {
   public:
    explicit Forward(const MemoryReader& to) : to_(to) {}
    std::int32_t natoms() const override { return to_.natoms(); }
    std::int64_t frames() const override { return to_.frames(); }
    std::string name() const override { return to_.name(); }
    void read(std::int64_t first, std::int64_t count, std::span<float> out) override {
      to_.fill(first, count, out);
    }

   private:
    const MemoryReader& to_;
  };

  void fill(std::int64_t first, std::int64_t count, std::span<float> out) const {
    if (first + count > bad_from_) die("memory: frame " + std::to_string(bad_from_) + " is bad");
    const std::int64_t n = 3 * natoms_;
    std::copy_n(data_.begin() + first * n, count * n, out.begin());
    reads_ += count;
  }

  std::vector<float> data_;
  std::int32_t natoms_ = 0;
};

// F frames of n = 3 * natoms coordinates around a random structure, moving along a random
// orthonormal basis with variances 1 / k^0.8 (k = 1..modes), plus isotropic noise: a slowly
// decaying spectrum like MD's.
inline std::vector<float> known_spectrum(std::int32_t natoms, std::int64_t frames,
                                         std::int32_t modes, float noise, unsigned seed) {
  const std::int64_t n = 3 * static_cast<std::int64_t>(natoms);
  std::mt19937 rng(seed);
  std::normal_distribution<double> normal;
  std::vector<double> basis(static_cast<std::size_t>(n * modes));
  for (std::int32_t k = 0; k < modes; ++k) {
    double* v = basis.data() + k * n;
    for (std::int64_t i = 0; i < n; ++i) v[i] = normal(rng);
    for (std::int32_t j = 0; j < k; ++j) {
      const double* u = basis.data() + j * n;
      double dot = 0.0;
      for (std::int64_t i = 0; i < n; ++i) dot += u[i] * v[i];
      for (std::int64_t i = 0; i < n; ++i) v[i] -= dot * u[i];
    }
    double norm = 0.0;
    for (std::int64_t i = 0; i < n; ++i) norm += v[i] * v[i];
    for (std::int64_t i = 0; i < n; ++i) v[i] /= std::sqrt(norm);
  }
  std::vector<double> centre(static_cast<std::size_t>(n));
  for (double& c : centre) c = 10.0 * normal(rng);
  std::vector<float> x(static_cast<std::size_t>(n * frames));
  for (std::int64_t f = 0; f < frames; ++f) {
    std::vector<double> frame = centre;
    for (std::int32_t k = 0; k < modes; ++k) {
      const double a = normal(rng) * std::sqrt(std::pow(k + 1.0, -0.8));
      for (std::int64_t i = 0; i < n; ++i) frame[i] += a * basis[i + k * n];
    }
    for (std::int64_t i = 0; i < n; ++i)
      x[i + f * n] = static_cast<float>(frame[i] + noise * normal(rng));
  }
  return x;
}

// F frames of n = 3 * natoms coordinates around a random structure, moving along all n axes of a
// random rotation with variances spread evenly on a log scale over `decades` (1 down to
// 10^-decades): the spread of a protein's spectrum, with hundreds of components above 0.1 % of
// the variance. The rotation is the Q of a Gaussian matrix's QR factorisation.
inline std::vector<float> spread_spectrum(std::int32_t natoms, std::int64_t frames, double decades,
                                          unsigned seed) {
  const std::int64_t n = 3 * static_cast<std::int64_t>(natoms);
  std::mt19937 rng(seed);
  std::normal_distribution<double> normal;
  std::vector<double> q(static_cast<std::size_t>(n * n));
  for (double& v : q) v = normal(rng);
  const lapack_int nn = blas_int(n);
  std::vector<double> tau(static_cast<std::size_t>(n)), work;
  std::vector<lapack_int> iwork;
  with_workspace("dgeqrf", work, iwork, [&](lapack_int& lwork, lapack_int&, lapack_int& info) {
    LAPACK_dgeqrf(&nn, &nn, q.data(), &nn, tau.data(), work.data(), &lwork, &info);
  });
  with_workspace("dorgqr", work, iwork, [&](lapack_int& lwork, lapack_int&, lapack_int& info) {
    LAPACK_dorgqr(&nn, &nn, &nn, q.data(), &nn, tau.data(), work.data(), &lwork, &info);
  });
  // Mode amplitudes, frame after frame: a (n x F), then x = centre + q a.
  std::vector<double> a(static_cast<std::size_t>(n * frames));
  for (std::int64_t f = 0; f < frames; ++f) {
    for (std::int64_t k = 0; k < n; ++k) {
      const double variance = std::pow(10.0, -decades * static_cast<double>(k) / (n - 1));
      a[k + f * n] = normal(rng) * std::sqrt(variance);
    }
  }
  std::vector<double> x(static_cast<std::size_t>(n * frames));
  gemm('N', 'N', n, frames, n, 1.0, q.data(), n, a.data(), n, 0.0, x.data(), n);
  std::vector<double> centre(static_cast<std::size_t>(n));
  for (double& c : centre) c = 10.0 * normal(rng);
  std::vector<float> out(x.size());
  for (std::size_t i = 0; i < x.size(); ++i)
    out[i] = static_cast<float>(centre[i % centre.size()] + x[i]);
  return out;
}

// All eigenvalues, descending, of the covariance of frames [first, last) of `x` (n coordinates
// each): centred and multiplied in double, factorised by LAPACK's dsyevd.
inline std::vector<double> covariance_eigenvalues(const std::vector<float>& x, std::int64_t n,
                                                  std::int64_t first, std::int64_t last) {
  const std::int64_t f = last - first;
  std::vector<double> d(x.begin() + first * n, x.begin() + last * n), mean(n, 0.0);
  for (std::int64_t s = 0; s < f; ++s) {
    for (std::int64_t i = 0; i < n; ++i) mean[i] += d[i + s * n] / f;
  }
  for (std::int64_t s = 0; s < f; ++s) {
    for (std::int64_t i = 0; i < n; ++i) d[i + s * n] -= mean[i];
  }
  std::vector<double> c(n * n), values(n), work;
  gemm('N', 'T', n, n, f, 1.0 / f, d.data(), n, d.data(), n, 0.0, c.data(), n);
  const lapack_int nn = blas_int(n);
  std::vector<lapack_int> iwork;
  with_workspace("dsyevd", work, iwork,
                 [&](lapack_int& lwork, lapack_int& liwork, lapack_int& info) {
                   LAPACK_dsyevd("N", "L", &nn, c.data(), &nn, values.data(), work.data(), &lwork,
                                 iwork.data(), &liwork, &info);
                 });
  return {values.rbegin(), values.rend()};
}

}  // namespace kvtraj::pca::testing

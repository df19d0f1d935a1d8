// What the fits of fit.cpp and fit_reference.cpp share: the sums a least-squares fit is made
// from, the fit made from them, and the check of the sets' sizes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "superpose/superpose.hpp"

namespace kvtraj::fitting {

// Sums over the atoms (weighted), uncentred: the fit centres them.
struct Moments {
  double ca[3] = {0.0, 0.0, 0.0};  // weighted coordinate sums, reference
  double cb[3] = {0.0, 0.0, 0.0};  // and moving set
  Matrix3d u{};                    // u(i,j) = sum of w ref(i) mov(j)
  double sa = 0.0;                 // weighted sums of squares
  double sb = 0.0;
  double weight = 0.0;  // sum of the weights
};

// The transform and RMS deviation from the sums, divided by the weight (f = 1 / weight).
void finish(Moments& m, double f, Matrix3f& rot, Vector3f& trans, float& rms, std::int32_t mode);

// What a fit of no atoms gives: RMS 0 and, with `mode` != 0, the identity.
void no_fit(Matrix3f& rot, Vector3f& trans, float& rms, std::int32_t mode);

// Fatal unless both sets hold `atoms` atoms.
void require_atoms(std::size_t atoms, std::span<const float> ref, std::span<const float> mov);

}  // namespace kvtraj::fitting

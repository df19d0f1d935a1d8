// Unweighted fits of many coordinate sets onto one prepared reference.
//
// Four atoms of a moving set are 12 floats, read as three vectors of four: lane l of vector v
// holds coordinate (4v + l) % 3 of atom (4v + l) / 3 of the group. The reference is stored
// against that layout: for each of its coordinates i and each vector v, the four lanes hold
// coordinate i of the atoms that the lanes of v belong to. A fit is then nine lane-wise products
// per four atoms, with nothing rearranged in the moving set.
//
// The reference is centred and the moving set shifted by its first atom, so that the products
// stay near the square of the molecule's size: they are summed in single precision over a few
// dozen atoms at a time, then in double precision, and the sums of the sets as given follow
// exactly (in double) from those of the centred and shifted ones.
#include <algorithm>
#include <cstring>

#include "superpose/moments.hpp"
#include "superpose/superpose.hpp"

namespace kvtraj {
namespace {

using Floats4 = float __attribute__((vector_size(16)));
using Doubles2 = double __attribute__((vector_size(16)));

constexpr std::size_t kGroupFloats = 12;    // four atoms of a moving set
constexpr std::size_t kFacedFloats = 36;    // their reference: 3 coordinates x 3 vectors
constexpr std::size_t kGroupsPerFlush = 8;  // groups summed in single precision at a time

constexpr int coordinate_of(int v, int l) {
  return (4 * v + l) % 3;
}
constexpr int atom_of(int v, int l) {
  return (4 * v + l) / 3;
}

Floats4 load(const float* p) {
  Floats4 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Sums of the centred reference a and the shifted moving set b, in double precision.
struct Sums {
  double ab[3][3] = {};  // [i][j]: sum of a_i b_j
  double b[3] = {};
  double bb = 0.0;
};

// The same lane by lane in single precision, over kGroupsPerFlush groups at a time.
struct LaneSums {
  Floats4 ab[3][3] = {};  // [i][v]
  Floats4 b[3] = {};
  Floats4 bb = {};

  void add(const float* faced, const Floats4 (&moving)[3]) {
    for (int i = 0; i < 3; ++i) {
      for (int v = 0; v < 3; ++v) ab[i][v] += load(faced + 4 * (3 * i + v)) * moving[v];
    }
    for (int v = 0; v < 3; ++v) b[v] += moving[v];
    bb += (moving[0] * moving[0] + moving[1] * moving[1]) + moving[2] * moving[2];
  }
};

// The lane sums of all groups so far, in double precision.
struct DoubleLanes {
  Doubles2 ab[3][3][2] = {};
  Doubles2 b[3][2] = {};
  Doubles2 bb[2] = {};

  static void add(Doubles2 (&to)[2], Floats4 v) {
    to[0] += Doubles2{v[0], v[1]};
    to[1] += Doubles2{v[2], v[3]};
  }
  void add(LaneSums& f) {
    for (int v = 0; v < 3; ++v) {
      for (int i = 0; i < 3; ++i) add(ab[i][v], f.ab[i][v]);
      add(b[v], f.b[v]);
    }
    add(bb, f.bb);
    f = LaneSums{};
  }
  void store(Sums& s) const {
    for (int v = 0; v < 3; ++v) {
      for (int l = 0; l < 4; ++l) {
        const int j = coordinate_of(v, l);
        for (int i = 0; i < 3; ++i) s.ab[i][j] += ab[i][v][l / 2][l % 2];
        s.b[j] += b[v][l / 2][l % 2];
      }
    }
    s.bb += (bb[0][0] + bb[0][1]) + (bb[1][0] + bb[1][1]);
  }
};

}  // namespace

FitReference::FitReference(std::int32_t n, std::span<const float> reference)
    : n_(n > 0 ? static_cast<std::size_t>(n) : 0) {
  fitting::require_atoms(n_, reference, reference);
  for (std::size_t k = 0; k < n_; ++k) {
    for (int i = 0; i < 3; ++i) centre_[i] += reference[3 * k + i];
  }
  for (double& c : centre_) c /= static_cast<double>(std::max<std::size_t>(n_, 1));
  std::vector<float> centred(3 * n_);
  for (std::size_t k = 0; k < 3 * n_; ++k) {
    const double c = static_cast<double>(reference[k]) - centre_[k % 3];
    centred[k] = static_cast<float>(c);
    centred_sums_[k % 3] += centred[k];
    centred_squares_ += double{centred[k]} * centred[k];
  }
  // Whole groups of four atoms are faced; the last n % 4 atoms stay as they are.
  const std::size_t groups = n_ / 4;
  faced_.resize(groups * kFacedFloats + 3 * (n_ % 4));
  for (std::size_t g = 0; g < groups; ++g) {
    for (int i = 0; i < 3; ++i) {
      for (int v = 0; v < 3; ++v) {
        for (int l = 0; l < 4; ++l) {
          faced_[g * kFacedFloats + 4 * (3 * i + v) + l] = centred[3 * (4 * g + atom_of(v, l)) + i];
        }
      }
    }
  }
  std::copy(centred.begin() + 12 * groups, centred.end(), faced_.begin() + groups * kFacedFloats);
}

void FitReference::fit(std::span<const float> moving, Matrix3f& rot, Vector3f& trans, float& rms,
                       std::int32_t mode) const {
  if (n_ == 0) return fitting::no_fit(rot, trans, rms, mode);
  fitting::require_atoms(n_, moving, moving);
  const float* mov = moving.data();
  const Floats4 shift[3] = {Floats4{mov[0], mov[1], mov[2], mov[0]},
                            Floats4{mov[1], mov[2], mov[0], mov[1]},
                            Floats4{mov[2], mov[0], mov[1], mov[2]}};
  LaneSums lanes;
  DoubleLanes sums;
  const std::size_t groups = n_ / 4;
  for (std::size_t g = 0; g < groups; ++g) {
    const float* p = mov + g * kGroupFloats;
    const Floats4 b[3] = {load(p) - shift[0], load(p + 4) - shift[1], load(p + 8) - shift[2]};
    lanes.add(faced_.data() + g * kFacedFloats, b);
    if ((g + 1) % kGroupsPerFlush == 0) sums.add(lanes);
  }
  sums.add(lanes);
  Sums s;
  sums.store(s);
  const float* tail = faced_.data() + groups * kFacedFloats;
  for (std::size_t k = 4 * groups; k < n_; ++k, tail += 3) {
    for (int j = 0; j < 3; ++j) {
      const float b = mov[3 * k + j] - mov[j];
      for (int i = 0; i < 3; ++i) s.ab[i][j] += tail[i] * b;
      s.b[j] += b;
      s.bb += b * b;
    }
  }
  // The sums of the sets as given: reference = centred + centre, moving = shifted + first atom.
  const auto n = static_cast<double>(n_);
  fitting::Moments m;
  m.weight = n;
  double first_dot_b = 0.0, first_squared = 0.0;
  for (int j = 0; j < 3; ++j) {
    const double first = mov[j];
    m.ca[j] = centred_sums_[j] + n * centre_[j];
    m.cb[j] = s.b[j] + n * first;
    first_dot_b += first * s.b[j];
    first_squared += first * first;
    for (int i = 0; i < 3; ++i) {
      m.u[i + 3 * j] =
          s.ab[i][j] + centre_[i] * s.b[j] + first * centred_sums_[i] + n * centre_[i] * first;
    }
  }
  double centre_dot_sums = 0.0, centre_squared = 0.0;
  for (int i = 0; i < 3; ++i) {
    centre_dot_sums += centre_[i] * centred_sums_[i];
    centre_squared += centre_[i] * centre_[i];
  }
  m.sa = centred_squares_ + 2.0 * centre_dot_sums + n * centre_squared;
  m.sb = s.bb + 2.0 * first_dot_b + n * first_squared;
  fitting::finish(m, 1.0 / n, rot, trans, rms, mode);
}

}  // namespace kvtraj

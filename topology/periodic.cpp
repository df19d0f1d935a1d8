#include "topology/periodic.hpp"

#include <algorithm>
#include <cstddef>
#include <string>

#include "support/fatal.hpp"

namespace kvtraj {
namespace {

using Vec = std::array<double, 3>;

Vec position(std::span<const float> frame, std::int32_t atom) {
  const auto i = 3 * static_cast<std::size_t>(atom);
  return {frame[i], frame[i + 1], frame[i + 2]};
}

void move_by(std::span<float> frame, std::int32_t atom, const Vec& shift) {
  const auto i = 3 * static_cast<std::size_t>(atom);
  for (int k = 0; k < 3; ++k) {
    frame[i + k] = static_cast<float>(double(frame[i + k]) - shift[k]);
  }
}

Vec minus(const Vec& u, const Vec& v) {
  return {u[0] - v[0], u[1] - v[1], u[2] - v[2]};
}

// The bond graph as adjacency lists (compressed rows), each list in ascending order so that the
// placing order depends on the bonds alone, not on the order they are listed in.
struct Adjacency {
  std::vector<std::size_t> start;
  std::vector<std::int32_t> next;
};

Adjacency adjacency(std::int32_t natoms, std::span<const std::array<std::int32_t, 2>> bonds) {
  const auto n = static_cast<std::size_t>(natoms);
  Adjacency g;
  g.start.assign(n + 1, 0);
  for (const auto& b : bonds) {
    if (b[0] < 0 || b[0] >= natoms || b[1] < 0 || b[1] >= natoms) {
      die("Molecules: bond " + std::to_string(b[0] + 1) + "-" + std::to_string(b[1] + 1) +
          " names an atom outside 1.." + std::to_string(natoms));
    }
    ++g.start[static_cast<std::size_t>(b[0]) + 1];
    ++g.start[static_cast<std::size_t>(b[1]) + 1];
  }
  for (std::size_t i = 0; i < n; ++i) g.start[i + 1] += g.start[i];
  g.next.resize(g.start[n]);
  std::vector<std::size_t> fill(g.start.begin(), g.start.end() - 1);
  for (const auto& b : bonds) {
    g.next[fill[static_cast<std::size_t>(b[0])]++] = b[1];
    g.next[fill[static_cast<std::size_t>(b[1])]++] = b[0];
  }
  for (std::size_t i = 0; i < n; ++i) {
    std::sort(g.next.begin() + std::ptrdiff_t(g.start[i]),
              g.next.begin() + std::ptrdiff_t(g.start[i + 1]));
  }
  return g;
}

// The frame must hold every atom the molecules were made for.
void check_frame(std::span<const float> frame, std::int32_t natoms, const char* what) {
  if (frame.size() / 3 < static_cast<std::size_t>(natoms)) {
    die(std::string(what) + ": a frame of " + std::to_string(frame.size() / 3) +
        " atoms for molecules of " + std::to_string(natoms));
  }
}

}  // namespace

Molecules::Molecules(std::int32_t natoms, std::span<const std::array<std::int32_t, 2>> bonds,
                     std::span<const std::int32_t> atoms)
    : natoms_(natoms) {
  if (natoms < 0) die("Molecules: a negative atom count");
  const Adjacency g = adjacency(natoms, bonds);
  const auto n = static_cast<std::size_t>(natoms);
  std::vector<char> wanted(n, 0), seen(n, 0);
  for (const std::int32_t a : atoms) {
    if (a < 0 || a >= natoms) {
      die("Molecules: atom " + std::to_string(a + 1) + " is outside 1.." + std::to_string(natoms));
    }
    wanted[static_cast<std::size_t>(a)] = 1;
  }
  starts_.push_back(0);
  // Atoms are taken in ascending order, so each unseen atom is the lowest of its molecule; a
  // breadth-first search from it gives the placing order, and molecules without a wanted atom
  // are dropped again.
  for (std::size_t first = 0; first < n; ++first) {
    if (seen[first]) continue;
    const std::size_t begin = order_.size();
    bool keep = false;
    seen[first] = 1;
    order_.push_back(static_cast<std::int32_t>(first));
    anchor_.push_back(-1);
    for (std::size_t k = begin; k < order_.size(); ++k) {
      const auto atom = static_cast<std::size_t>(order_[k]);
      keep |= wanted[atom] != 0;
      for (std::size_t e = g.start[atom]; e < g.start[atom + 1]; ++e) {
        const auto other = static_cast<std::size_t>(g.next[e]);
        if (seen[other]) continue;
        seen[other] = 1;
        order_.push_back(g.next[e]);
        anchor_.push_back(order_[k]);
      }
    }
    if (keep) {
      starts_.push_back(static_cast<std::int32_t>(order_.size()));
    } else {
      order_.resize(begin);
      anchor_.resize(begin);
    }
  }
}

std::span<const std::int32_t> Molecules::atoms(std::int32_t m) const {
  const auto b = static_cast<std::size_t>(starts_[static_cast<std::size_t>(m)]);
  const auto e = static_cast<std::size_t>(starts_[static_cast<std::size_t>(m) + 1]);
  return std::span<const std::int32_t>(order_).subspan(b, e - b);
}

std::span<const std::int32_t> Molecules::anchors(std::int32_t m) const {
  const auto b = static_cast<std::size_t>(starts_[static_cast<std::size_t>(m)]);
  const auto e = static_cast<std::size_t>(starts_[static_cast<std::size_t>(m) + 1]);
  return std::span<const std::int32_t>(anchor_).subspan(b + 1, e - b - 1);
}

void make_whole(const Molecules& molecules, std::span<float> frame, const PeriodicBox& box) {
  check_frame(frame, molecules.natoms(), "make_whole");
  for (std::int32_t m = 0; m < molecules.count(); ++m) {
    const auto atoms = molecules.atoms(m);
    const auto anchors = molecules.anchors(m);
    for (std::size_t k = 0; k < anchors.size(); ++k) {
      const std::int32_t atom = atoms[k + 1];
      const Vec d = minus(position(frame, atom), position(frame, anchors[k]));
      move_by(frame, atom, box.image_shift(d));
    }
  }
}

namespace {

Vec centre(const Molecules& molecules, std::int32_t m, std::span<const float> frame) {
  Vec sum{0.0, 0.0, 0.0};
  const auto atoms = molecules.atoms(m);
  for (const std::int32_t atom : atoms) {
    const Vec x = position(frame, atom);
    for (int k = 0; k < 3; ++k) sum[k] += x[k];
  }
  for (double& v : sum) v /= static_cast<double>(atoms.size());
  return sum;
}

}  // namespace

void gather(const Molecules& molecules, std::span<float> frame, const PeriodicBox& box) {
  check_frame(frame, molecules.natoms(), "gather");
  if (molecules.count() == 0) return;
  const Vec first = centre(molecules, 0, frame);
  for (std::int32_t m = 1; m < molecules.count(); ++m) {
    const Vec shift = box.image_shift(minus(centre(molecules, m, frame), first));
    for (const std::int32_t atom : molecules.atoms(m)) move_by(frame, atom, shift);
  }
}

bool looks_split(const Molecules& molecules, std::int32_t m, std::span<const float> frame,
                 const PeriodicBox& box) {
  check_frame(frame, molecules.natoms(), "looks_split");
  const auto atoms = molecules.atoms(m);
  const auto anchors = molecules.anchors(m);
  for (std::size_t k = 0; k < anchors.size(); ++k) {
    const Vec shift =
        box.image_shift(minus(position(frame, atoms[k + 1]), position(frame, anchors[k])));
    if (shift[0] != 0.0 || shift[1] != 0.0 || shift[2] != 0.0) return true;
  }
  return false;
}

void step_unwrapped(std::span<const std::int32_t> atoms, std::span<const float> frame,
                    const PeriodicBox& box, std::span<float> previous, std::span<float> unwrapped) {
  const std::size_t n = atoms.size();
  if (previous.size() < 3 * n || unwrapped.size() < 3 * n) {
    die("step_unwrapped: " + std::to_string(n) + " atoms but room for " +
        std::to_string(std::min(previous.size(), unwrapped.size()) / 3));
  }
  const std::size_t frame_atoms = frame.size() / 3;
  for (std::size_t k = 0; k < n; ++k) {
    if (atoms[k] < 0 || static_cast<std::size_t>(atoms[k]) >= frame_atoms) {
      die("step_unwrapped: atom " + std::to_string(atoms[k] + 1) + " is outside a frame of " +
          std::to_string(frame_atoms) + " atoms");
    }
    const Vec now = position(frame, atoms[k]);
    float* before = &previous[3 * k];
    float* u = &unwrapped[3 * k];
    const Vec step = box.shortest({now[0] - before[0], now[1] - before[1], now[2] - before[2]});
    for (int c = 0; c < 3; ++c) {
      u[c] = static_cast<float>(double(u[c]) + step[c]);
      before[c] = static_cast<float>(now[c]);
    }
  }
}

}  // namespace kvtraj

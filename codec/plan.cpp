// The coding plan: which atoms the model predicts, which earlier residuals correct each atom
// (chosen by least squares on sample frames and kept when they lower the sum of the residuals'
// magnitudes) and which atoms keep their distance to an earlier one; and its stored form.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "codec/bytes.hpp"
#include "codec/predict.hpp"

namespace kvtraj::codec {
namespace {

// Residuals before correction, frame-major (frame x 3N), of the sample frames 1 .. count - 1.
struct Series {
  std::size_t n = 0;
  std::int64_t frames = 0;
  std::vector<std::int64_t> d;
  std::int64_t at(std::int64_t t, std::size_t i) const {
    return d[static_cast<std::size_t>(t) * n + i];
  }
};

// The candidate source of a term for coordinate i of frame t.
std::int64_t source_value(const Series& s, std::int64_t t, std::size_t i, std::uint8_t source) {
  return source == 0 ? s.at(t - 1, i) : s.at(t, i - 3 * source);
}

std::int64_t cost(const Series& s, std::size_t atom, std::span<const Ref> refs) {
  std::int64_t total = 0;
  for (std::int64_t t = 1; t < s.frames; ++t) {
    for (std::size_t c = 0; c < 3; ++c) {
      const std::size_t i = 3 * atom + c;
      std::int64_t sum = 0;
      for (const Ref& r : refs) sum += r.weight * source_value(s, t, i, r.source);
      total += std::llabs(s.at(t, i) - correct(sum).offset);
    }
  }
  return total;
}

// Least-squares weights (in sixteenths) of the sources for the atom's series; false when the
// normal equations are singular.
bool fit_weights(const Series& s, std::size_t atom, std::span<Ref> refs) {
  const std::size_t m = refs.size();
  double a[kMaxRefs][kMaxRefs + 1] = {};
  for (std::int64_t t = 1; t < s.frames; ++t) {
    for (std::size_t c = 0; c < 3; ++c) {
      const std::size_t i = 3 * atom + c;
      double x[kMaxRefs];
      for (std::size_t k = 0; k < m; ++k)
        x[k] = static_cast<double>(source_value(s, t, i, refs[k].source));
      for (std::size_t r = 0; r < m; ++r) {
        for (std::size_t k = 0; k < m; ++k) a[r][k] += x[r] * x[k];
        a[r][m] += x[r] * static_cast<double>(s.at(t, i));
      }
    }
  }
  for (std::size_t p = 0; p < m; ++p) {  // Gaussian elimination, no pivoting needed for SPD
    if (!(a[p][p] > 1e-9)) return false;
    for (std::size_t r = p + 1; r < m; ++r) {
      const double f = a[r][p] / a[p][p];
      for (std::size_t k = p; k <= m; ++k) a[r][k] -= f * a[p][k];
    }
  }
  double w[kMaxRefs];
  for (std::size_t p = m; p-- > 0;) {
    double v = a[p][m];
    for (std::size_t k = p + 1; k < m; ++k) v -= a[p][k] * w[k];
    w[p] = v / a[p][p];
  }
  for (std::size_t k = 0; k < m; ++k) {
    refs[k].weight = static_cast<std::int8_t>(std::clamp(std::lround(16.0 * w[k]), -127L, 127L));
  }
  return true;
}

// Greedy choice of up to kMaxRefs terms among the atom's own previous residual and atoms up
// to kMaxSource before it (inside its group, when it has one). Returns the cost reached.
std::int64_t choose_refs(const Series& s, std::size_t atom, std::int32_t lowest, AtomPlan& plan,
                         int table) {
  std::array<Ref, kMaxRefs> chosen{};
  int used = 0;
  std::int64_t best = cost(s, atom, {});
  while (used < kMaxRefs) {
    std::array<Ref, kMaxRefs> pick{};
    std::int64_t pick_cost = best;
    for (int src = 0; src <= kMaxSource; ++src) {
      if (src > 0 && static_cast<std::int64_t>(atom) - src < lowest) break;
      bool taken = false;
      for (int k = 0; k < used; ++k) taken |= chosen[k].source == src;
      if (taken) continue;
      std::array<Ref, kMaxRefs> trial = chosen;
      trial[used].source = static_cast<std::uint8_t>(src);
      const std::span<Ref> terms(trial.data(), static_cast<std::size_t>(used + 1));
      if (!fit_weights(s, atom, terms)) continue;
      const std::int64_t c = cost(s, atom, terms);
      if (c < pick_cost) {
        pick_cost = c;
        pick = trial;
      }
    }
    // A term must pay for itself: at least 1 % better.
    if (pick_cost >= best - best / 100) break;
    chosen = pick;
    best = pick_cost;
    ++used;
  }
  plan.nrefs[table] = static_cast<std::uint8_t>(used);
  plan.refs[table] = chosen;
  return best;
}

// The earlier atom (inside the atom's group) whose distance to it changes least from frame to
// frame, and that change on average, in grid steps.
struct Anchor {
  std::uint8_t source = 0;
  double change = 0.0;
};
Anchor steadiest(std::span<const std::int64_t> q, std::size_t n, std::int64_t count,
                 std::size_t atom, std::int32_t lowest) {
  Anchor best;
  for (int src = 1; src <= kMaxSource && static_cast<std::int64_t>(atom) - src >= lowest; ++src) {
    double change = 0.0, before = 0.0;
    for (std::int64_t t = 0; t < count; ++t) {
      const std::int64_t* x = &q[static_cast<std::size_t>(t) * n + 3 * atom];
      double length2 = 0.0;
      for (std::ptrdiff_t c = 0; c < 3; ++c) {
        const auto v = static_cast<double>(x[c] - x[c - 3 * src]);
        length2 += v * v;
      }
      const double length = std::sqrt(length2);
      if (t > 0) change += std::fabs(length - before);
      before = length;
    }
    change /= static_cast<double>(count - 1);
    if (best.source == 0 || change < best.change) best = {static_cast<std::uint8_t>(src), change};
  }
  return best;
}

// The held distance pays in a table when it changes less than half the atom's typical residual
// (`cost` over `values` coordinates).
bool holds(const Anchor& anchor, std::int64_t cost, std::int64_t values) {
  return anchor.source != 0 &&
         2.0 * anchor.change * static_cast<double>(values) < static_cast<double>(cost);
}

std::vector<std::int64_t> grid(std::span<const float> frames, double step) {
  std::vector<std::int64_t> q(frames.size());
  for (std::size_t i = 0; i < q.size(); ++i) {
    q[i] = static_cast<std::int64_t>(std::floor(static_cast<double>(frames[i]) / step + 0.5));
  }
  return q;
}

}  // namespace

Plan choose_plan(const Model& model, std::span<const float> frames, std::int64_t first,
                 std::int64_t count, std::span<const Transform> transforms, double step,
                 std::span<const AtomGroup> groups) {
  const auto natoms = static_cast<std::size_t>(model.natoms);
  const std::size_t n = 3 * natoms;
  Plan plan;
  plan.atoms.resize(natoms);
  std::vector<std::int32_t> lowest(natoms, 0);  // the first atom a reference may reach
  for (const AtomGroup& g : groups) {
    for (std::int32_t a = std::max(g.first, 0); a < g.first + g.count && a < model.natoms; ++a) {
      lowest[static_cast<std::size_t>(a)] = g.first;
      plan.atoms[static_cast<std::size_t>(a)].time_only = true;
    }
  }
  if (count < 3) return plan;
  const std::vector<std::int64_t> q = grid(frames, step);
  Series time{n, count - 1, std::vector<std::int64_t>(static_cast<std::size_t>(count - 1) * n)};
  for (std::size_t i = 0; i < time.d.size(); ++i) time.d[i] = q[i + n] - q[i];
  // Coordinates the costs below sum over.
  const std::int64_t values = 3 * (time.frames - 1);
  std::vector<Anchor> anchors(natoms);
  for (std::size_t a = 0; a < natoms; ++a) {
    const std::int64_t by_time = choose_refs(time, a, lowest[a], plan.atoms[a], 0);
    anchors[a] = steadiest(q, n, count, a, lowest[a]);
    plan.atoms[a].held[0] = holds(anchors[a], by_time, values);
    if (plan.atoms[a].held[0]) plan.atoms[a].anchor = anchors[a].source;
  }
  if (transforms.empty()) return plan;

  // Residuals of the model, then the atoms it does not predict better than their last frame.
  Series model_d = time;
  std::vector<double> work(n);
  std::vector<std::int64_t> base(n);
  for (std::int64_t t = 1; t < count; ++t) {
    pca_grid(model, stored(transforms[static_cast<std::size_t>(t)]), first + t, step, work, base);
    for (std::size_t i = 0; i < n; ++i)
      model_d.d[static_cast<std::size_t>(t - 1) * n + i] =
          q[static_cast<std::size_t>(t) * n + i] - base[i];
  }
  for (std::size_t a = 0; a < natoms; ++a) {
    AtomPlan probe;
    const std::int64_t by_model = choose_refs(model_d, a, lowest[a], probe, 1);
    const std::int64_t by_time =
        cost(time, a, std::span(plan.atoms[a].refs[0]).first(plan.atoms[a].nrefs[0]));
    plan.atoms[a].time_only = plan.atoms[a].time_only || by_model >= by_time;
  }
  // In pca blocks every atom's residual is of its own kind; the references are chosen on that mix.
  Series mixed = model_d;
  for (std::size_t a = 0; a < natoms; ++a) {
    if (!plan.atoms[a].time_only) continue;
    for (std::int64_t t = 0; t < mixed.frames; ++t) {
      for (std::size_t c = 0; c < 3; ++c)
        mixed.d[static_cast<std::size_t>(t) * n + 3 * a + c] = time.at(t, 3 * a + c);
    }
  }
  for (std::size_t a = 0; a < natoms; ++a) {
    const std::int64_t by_mix = choose_refs(mixed, a, lowest[a], plan.atoms[a], 1);
    plan.atoms[a].held[1] = holds(anchors[a], by_mix, values);
    if (plan.atoms[a].held[1]) plan.atoms[a].anchor = anchors[a].source;
  }
  return plan;
}

void write_plan(const Plan& plan, std::vector<std::uint8_t>& out) {
  for (const AtomPlan& a : plan.atoms) {
    const bool held = a.held[0] || a.held[1];
    out.push_back(static_cast<std::uint8_t>((a.time_only ? 1 : 0) | (a.nrefs[0] << 1) |
                                            (a.nrefs[1] << 3) | (a.held[0] ? 32 : 0) |
                                            (a.held[1] ? 64 : 0)));
    if (held) out.push_back(a.anchor);
    for (int table = 0; table < 2; ++table) {
      for (int k = 0; k < a.nrefs[table]; ++k) {
        out.push_back(a.refs[table][k].source);
        out.push_back(static_cast<std::uint8_t>(a.refs[table][k].weight));
      }
    }
  }
}

Plan read_plan(std::span<const std::uint8_t> bytes, std::int32_t natoms, std::string_view what) {
  ByteReader in(bytes, what);
  // Each atom takes at least one byte.
  if (natoms < 0 || in.left() < static_cast<std::size_t>(natoms))
    in.damaged("the coding plan is short");
  Plan plan;
  plan.atoms.resize(static_cast<std::size_t>(natoms));
  for (std::size_t a = 0; a < plan.atoms.size(); ++a) {
    AtomPlan& p = plan.atoms[a];
    const auto flags = in.get<std::uint8_t>();
    p.time_only = (flags & 1) != 0;
    p.nrefs = {static_cast<std::uint8_t>((flags >> 1) & 3),
               static_cast<std::uint8_t>((flags >> 3) & 3)};
    p.held = {(flags & 32) != 0, (flags & 64) != 0};
    if (flags >> 7 != 0 || p.nrefs[0] > kMaxRefs || p.nrefs[1] > kMaxRefs)
      in.damaged("a plan entry is invalid");
    if (p.held[0] || p.held[1]) {
      p.anchor = in.get<std::uint8_t>();
      if (p.anchor < 1 || p.anchor > kMaxSource || p.anchor > a)
        in.damaged("a held atom's anchor is outside the frame");
    }
    for (int table = 0; table < 2; ++table) {
      for (int k = 0; k < p.nrefs[table]; ++k) {
        Ref& r = p.refs[table][k];
        r.source = in.get<std::uint8_t>();
        r.weight = static_cast<std::int8_t>(in.get<std::uint8_t>());
        if (r.source > kMaxSource || r.source > a)
          in.damaged("a reference points outside the frame");
      }
    }
  }
  if (in.left() != 0) in.damaged("the coding plan is long");
  return plan;
}

}  // namespace kvtraj::codec

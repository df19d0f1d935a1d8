// The coding plan: which atoms the model predicts, which earlier residuals correct each atom
// (chosen by least squares on sample frames and kept when they lower the sum of the residuals'
// magnitudes) and which atoms keep their distance to an earlier one; and its stored form.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "codec/bytes.hpp"
#include "codec/images.hpp"
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
                 std::size_t atom, std::int32_t lowest, int besides = 0) {
  Anchor best;
  for (int src = 1; src <= kMaxSource && static_cast<std::int64_t>(atom) - src >= lowest; ++src) {
    if (src == besides) continue;
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

// What coding the atom's coordinates costs over the sample frames, about in bits (log2(1 + |r|)
// per residual r): with its terms alone, held to its first anchor, and held to both.
std::array<double, 3> held_costs(const Series& s, std::span<const std::int64_t> q, std::size_t atom,
                                 std::span<const Ref> refs, const std::array<Anchor, 2>& anchors) {
  const auto bits = [](std::int64_t r) {
    return std::log2(1.0 + static_cast<double>(std::llabs(r)));
  };
  const std::size_t n = s.n, i = 3 * atom, one = 3 * std::size_t{anchors[0].source},
                    two = 3 * std::size_t{anchors[1].source};
  std::array<double, 3> out{};
  for (std::int64_t t = 1; t < s.frames; ++t) {
    // Series entry t is of sample frame t + 1.
    const std::int64_t* now = &q[static_cast<std::size_t>(t + 1) * n];
    const std::int64_t* before = &q[static_cast<std::size_t>(t) * n];
    std::array<std::int64_t, 3> predicted{};
    std::array<double, 3> free{};
    for (std::size_t c = 0; c < 3; ++c) {
      std::int64_t sum = 0;
      for (const Ref& r : refs) sum += r.weight * source_value(s, t, i + c, r.source);
      predicted[c] = now[i + c] - s.at(t, i + c) + correct(sum).offset;
      free[c] = bits(now[i + c] - predicted[c]);
    }
    out[0] += free[0] + free[1] + free[2];
    Held h{before + i,
           now + i,
           predicted.data(),
           {before + i - one, nullptr},
           {now + i - one, nullptr}};
    const int k = held_coordinate(h);
    out[1] += free[0] + free[1] + free[2] - free[k] + bits(now[i + k] - held_value(h, k));
    if (anchors[1].source == 0) continue;
    h.anchor_before[1] = before + i - two;
    h.anchor[1] = now + i - two;
    const int f = circle_coordinate(h);
    const std::array<std::int64_t, 2> g = held_pair(h, f);
    const int j = f == 0 ? 1 : 0, l = f == 2 ? 1 : 2;
    out[2] += bits(now[i + f] - predicted[f]) + bits(now[i + j] - g[0]) + bits(now[i + l] - g[1]);
  }
  return out;
}

// Holds the atom in `table` by the anchors that cost least on the sample frames, when they save
// a tenth of the estimate: on coarse grids the estimate favours holds that then cost bytes (both
// tables use the same anchors: the first choice stands).
void hold(const Series& s, std::span<const std::int64_t> q, std::size_t atom,
          const std::array<Anchor, 2>& anchors, int table, AtomPlan& plan) {
  if (anchors[0].source == 0) return;
  std::array<Anchor, 2> use = anchors;
  if (plan.anchor != 0) use = {Anchor{plan.anchor, 0.0}, Anchor{plan.second, 0.0}};
  const std::array<double, 3> cost =
      held_costs(s, q, atom, std::span(plan.refs[table]).first(plan.nrefs[table]), use);
  const bool two = use[1].source != 0 && cost[2] < cost[1];
  if ((two ? cost[2] : cost[1]) >= 0.9 * cost[0]) return;
  plan.held[table] = true;
  if (plan.anchor != 0) return;
  plan.anchor = use[0].source;
  if (two) plan.second = use[1].source;
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
  // Jumps to another image are coded apart: the terms are fitted to what is left.
  const Images images = find_images(q, n, count, step);
  for (std::size_t i = 0; i < time.d.size(); i += 3) {
    const Images::Vector moved = images.reduced(difference(&q[i + n], &q[i]));
    std::copy(moved.begin(), moved.end(), time.d.begin() + static_cast<std::ptrdiff_t>(i));
  }
  std::vector<std::array<Anchor, 2>> anchors(natoms);
  std::vector<std::int64_t> by_time(natoms);
  for (std::size_t a = 0; a < natoms; ++a) {
    by_time[a] = choose_refs(time, a, lowest[a], plan.atoms[a], 0);
    anchors[a][0] = steadiest(q, n, count, a, lowest[a]);
    anchors[a][1] = steadiest(q, n, count, a, lowest[a], anchors[a][0].source);
    hold(time, q, a, anchors[a], 0, plan.atoms[a]);
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
    plan.atoms[a].time_only = plan.atoms[a].time_only || by_model >= by_time[a];
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
    choose_refs(mixed, a, lowest[a], plan.atoms[a], 1);
    hold(mixed, q, a, anchors[a], 1, plan.atoms[a]);
  }
  return plan;
}

void write_plan(const Plan& plan, std::vector<std::uint8_t>& out) {
  for (const AtomPlan& a : plan.atoms) {
    const bool held = a.held[0] || a.held[1];
    out.push_back(static_cast<std::uint8_t>(
        (a.time_only ? 1 : 0) | (a.nrefs[0] << 1) | (a.nrefs[1] << 3) | (a.held[0] ? 32 : 0) |
        (a.held[1] ? 64 : 0) | (held && a.second != 0 ? 128 : 0)));
    if (held) out.push_back(a.anchor);
    if (held && a.second != 0) out.push_back(a.second);
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
    const bool held = p.held[0] || p.held[1], second = (flags & 128) != 0;
    if ((second && !held) || p.nrefs[0] > kMaxRefs || p.nrefs[1] > kMaxRefs)
      in.damaged("a plan entry is invalid");
    if (held) p.anchor = in.get<std::uint8_t>();
    if (second) p.second = in.get<std::uint8_t>();
    for (const std::uint8_t s : {p.anchor, p.second}) {
      if (s > kMaxSource || s > a) in.damaged("a held atom's anchor is outside the frame");
    }
    if ((held && p.anchor == 0) || (second && (p.second == 0 || p.second == p.anchor)))
      in.damaged("a held atom's anchor is outside the frame");
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

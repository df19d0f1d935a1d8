// The periodic-image code on a large solvated system that bench/topology/periodic_compare.py writes
// into KVTRAJ_BENCH_DIR (the dodecahedron fixture tiled into 100,000+ atoms): bonds guessed, every
// molecule made whole from atoms wrapped one by one, and one nojump step of every atom.
// The counters report what was computed, so that the script can check it against MDAnalysis.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <numeric>
#include <string>
#include <vector>

#include "topology/periodic.hpp"

namespace kvtraj::bench {
namespace {

using Bond = std::array<std::int32_t, 2>;

std::string input(const char* name) {
  const char* dir = std::getenv("KVTRAJ_BENCH_DIR");
  return dir ? std::string(dir) + "/" + name : std::string();
}

template <class T>
std::vector<T> read_binary(const char* name) {
  std::vector<T> values;
  std::ifstream in(input(name), std::ios::binary);
  for (T v; in.read(reinterpret_cast<char*>(&v), sizeof v);) values.push_back(v);
  return values;
}

// Everything the benchmarks use, read once.
struct System {
  Topology top;
  // Frame 1 as written and wrapped atom by atom; frame 2 wrapped atom by atom.
  std::vector<float> coords, wrapped, next;
  std::vector<Bond> bonds;
  UnitCell cell, next_cell;

  System() {
    std::ifstream types(input("types.txt"));
    for (std::string t; types >> t;) top.names.push_back(t), top.types.push_back(t);
    coords = read_binary<float>("coords.f32");
    wrapped = read_binary<float>("wrapped.f32");
    next = read_binary<float>("next.f32");
    const auto pairs = read_binary<std::int32_t>("bonds.i32");
    for (std::size_t i = 0; i + 1 < pairs.size(); i += 2) bonds.push_back({pairs[i], pairs[i + 1]});
    const auto cells = read_binary<float>("cells.f32");
    if (cells.size() == 12) {
      cell = cell_from_lengths(std::span<const float, 6>(cells.data(), 6));
      next_cell = cell_from_lengths(std::span<const float, 6>(cells.data() + 6, 6));
    }
  }
  bool complete() const {
    const std::size_t n = 3 * static_cast<std::size_t>(top.natoms());
    return n > 0 && coords.size() == n && wrapped.size() == n && next.size() == n &&
           PeriodicBox(cell).valid() && PeriodicBox(next_cell).valid();
  }
};

std::vector<std::int32_t> every_atom(const System& s) {
  std::vector<std::int32_t> all(static_cast<std::size_t>(s.top.natoms()));
  std::iota(all.begin(), all.end(), 0);
  return all;
}

const System& system() {
  static const System s;
  return s;
}

bool ready(benchmark::State& state) {
  if (system().complete()) return true;
  state.SkipWithError(
      "no complete system in KVTRAJ_BENCH_DIR (bench/topology/periodic_compare.py)");
  return false;
}

void BM_guess_bonds(benchmark::State& state) {
  if (!ready(state)) return;
  const System& s = system();
  const PeriodicBox box(s.cell);
  std::size_t found = 0;
  for (auto _ : state) {
    const auto bonds = guess_bonds(s.top, s.coords, &box);
    found = bonds.size();
    benchmark::DoNotOptimize(bonds.data());
  }
  state.counters["atoms"] = s.top.natoms();
  state.counters["bonds"] = static_cast<double>(found);
}
BENCHMARK(BM_guess_bonds)->Unit(benchmark::kMillisecond);

void BM_make_whole(benchmark::State& state) {
  if (!ready(state)) return;
  const System& s = system();
  const PeriodicBox box(s.cell);
  const Molecules molecules(s.top.natoms(), s.bonds, every_atom(s));
  std::vector<float> frame;
  for (auto _ : state) {
    state.PauseTiming();
    frame = s.wrapped;
    state.ResumeTiming();
    make_whole(molecules, frame, box);
    benchmark::ClobberMemory();
  }
  double longest = 0.0;  // the longest bond afterwards, for the check against MDAnalysis
  for (const Bond& b : s.bonds) {
    double sq = 0.0;
    for (int k = 0; k < 3; ++k) {
      const double d = double(frame[3 * std::size_t(b[1]) + k]) - frame[3 * std::size_t(b[0]) + k];
      sq += d * d;
    }
    longest = std::max(longest, std::sqrt(sq));
  }
  state.counters["molecules"] = molecules.count();
  state.counters["longest_bond"] = longest;
}
BENCHMARK(BM_make_whole)->Unit(benchmark::kMillisecond);

void BM_step_unwrapped(benchmark::State& state) {
  if (!ready(state)) return;
  const System& s = system();
  const PeriodicBox box(s.next_cell);
  const std::vector<std::int32_t> all = every_atom(s);
  std::vector<float> previous, unwrapped;
  for (auto _ : state) {
    state.PauseTiming();
    previous = s.wrapped, unwrapped = s.wrapped;
    state.ResumeTiming();
    step_unwrapped(all, s.next, box, previous, unwrapped);
    benchmark::ClobberMemory();
  }
  double largest = 0.0;  // the largest step of an atom, for the check against numpy
  for (std::size_t i = 0; i < unwrapped.size(); ++i) {
    largest = std::max(largest, std::fabs(double(unwrapped[i]) - s.wrapped[i]));
  }
  state.counters["largest_step"] = largest;
}
BENCHMARK(BM_step_unwrapped)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kvtraj::bench

BENCHMARK_MAIN();

// Atom selections on a large topology (the GRO file named by KVTRAJ_BENCH_TOPOLOGY, read once):
// compiling and evaluating a text over all atoms, without the reading of the file.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <optional>

#include "support/fatal.hpp"
#include "topology/selection.hpp"

namespace kvtraj {
namespace {

const Topology* bench_topology() {
  static const std::optional<Topology> top = []() -> std::optional<Topology> {
    const char* path = std::getenv("KVTRAJ_BENCH_TOPOLOGY");
    if (path == nullptr) return std::nullopt;
    return read_topology(path);
  }();
  return top ? &*top : nullptr;
}

void BM_select(benchmark::State& state, const char* text) {
  const Topology* top = bench_topology();
  if (!top) return state.SkipWithError("KVTRAJ_BENCH_TOPOLOGY names no topology");
  std::size_t selected = 0;
  for (auto _ : state) {
    selected = select_atoms(*top, text).size();
    benchmark::DoNotOptimize(selected);
  }
  state.counters["atoms"] = static_cast<double>(top->natoms());
  state.counters["selected"] = static_cast<double>(selected);
}
BENCHMARK_CAPTURE(BM_select, protein_and_name_CA, "protein and name CA")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_select, not_resname_SOL, "not resname SOL")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_select, water_oxygens_in_range, "resname SOL and name O* and resid 100:20000")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_select, backbone_or_heavy_atoms_by_mass, "backbone or mass 12 to 16")
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kvtraj

int main(int argc, char** argv) {
  kvtraj::set_fatal_action(kvtraj::throw_fatal_error);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

// Reading speed of the topology readers: read_topology of KVTRAJ_BENCH_DIR/system.gro,
// system.pdb and system.psf (bench/topology/reading_compare.py writes them through GROMACS and
// ParmEd and times MDAnalysis's Universe on the same files). The atom count is checked before
// timing.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "support/fatal.hpp"
#include "support/files.hpp"
#include "topology/topology.hpp"

namespace kvtraj::bench {
namespace {

void Read(benchmark::State& state, const char* name) {
  set_fatal_action(throw_fatal_error);
  const char* dir = std::getenv("KVTRAJ_BENCH_DIR");
  const std::string path = std::string(dir ? dir : ".") + "/" + name;
  if (!file_exists(path)) return state.SkipWithError("no input file (set KVTRAJ_BENCH_DIR)");
  const std::int32_t natoms = read_topology(path).natoms();
  if (natoms < 1) return state.SkipWithError("no atoms read");
  for (auto _ : state) {
    Topology top = read_topology(path);
    benchmark::DoNotOptimize(top.names.size());
  }
  state.counters["atoms"] = natoms;
  state.counters["atoms_per_s"] =
      benchmark::Counter(static_cast<double>(natoms) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
}

BENCHMARK_CAPTURE(Read, gro, "system.gro")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Read, pdb, "system.pdb")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Read, psf, "system.psf")->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kvtraj::bench

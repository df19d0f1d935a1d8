// kvt project against its parts, on one thread: one decode of KVTRAJ_BENCH_DIR/traj.dcd through
// the frames module (as kvt reads it), that decode plus a fit of every frame onto the average of
// traj.kvt, and the projection of every frame on all of traj.kvt's vectors (fit included).
// bench/analysis/compare.py writes the inputs and times MDAnalysis's PCA.transform beside them.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "analysis/analysis.hpp"
#include "ensemble/ensemble.hpp"
#include "frames/frames.hpp"
#include "support/files.hpp"

namespace kvtraj::bench {
namespace {

constexpr std::int64_t kBlock = 64;

std::string input(const char* name) {
  const char* dir = std::getenv("KVTRAJ_BENCH_DIR");
  return std::string(dir ? dir : ".") + "/" + name;
}

std::unique_ptr<Input> opened() {
  InputOptions o;
  o.trajectory = input("traj.dcd");
  return Input::open(o);
}

void count_frames(benchmark::State& state, std::int64_t frames) {
  state.counters["frames_per_s"] = benchmark::Counter(
      static_cast<double>(frames * static_cast<std::int64_t>(state.iterations())),
      benchmark::Counter::kIsRate);
}

// Every frame read in blocks; with `fit`, each block fitted onto the file's average.
void Decode(benchmark::State& state, bool fit) {
  if (!file_exists(input("traj.dcd")) || !file_exists(input("traj.kvt"))) {
    return state.SkipWithError("no inputs (set KVTRAJ_BENCH_DIR)");
  }
  const kvtfile kvtf = kvtopen(40, input("traj.kvt"));
  std::int64_t frames = 0;
  for (auto _ : state) {
    const std::unique_ptr<Input> in = opened();
    InputFrames reader(*in);
    frames = reader.frames();
    const std::size_t n = 3 * static_cast<std::size_t>(reader.natoms());
    std::vector<float> block(n * kBlock);
    for (std::int64_t first = 0; first < frames; first += kBlock) {
      const std::int64_t count = std::min(kBlock, frames - first);
      reader.read(first, count, block);
      if (fit) {
        trajfit(std::span(block).first(n * count), kvtf.avg, reader.natoms(),
                static_cast<std::int32_t>(count));
      }
      benchmark::DoNotOptimize(block.data());
    }
  }
  count_frames(state, frames);
}

void Project(benchmark::State& state) {
  if (!file_exists(input("traj.dcd")) || !file_exists(input("traj.kvt"))) {
    return state.SkipWithError("no inputs (set KVTRAJ_BENCH_DIR)");
  }
  const kvtfile kvtf = kvtopen(41, input("traj.kvt"));
  std::int64_t frames = 0;
  for (auto _ : state) {
    const std::unique_ptr<Input> in = opened();
    InputFrames reader(*in);
    const analysis::Projections p =
        analysis::project(reader, kvtf, {1, kvtf.nvecs}, static_cast<int>(state.range(0)));
    frames = p.frames;
    benchmark::DoNotOptimize(p.values.data());
  }
  count_frames(state, frames);
}

// Real time, and the CPU time of all threads: on a shared machine the second shows the work when
// the first shows the load.
BENCHMARK_CAPTURE(Decode, decode, false)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(Decode, decode_and_fit, true)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();
BENCHMARK(Project)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

}  // namespace
}  // namespace kvtraj::bench

// Decoding speed of the DCD, binpos and AMBER readers over whole files, beside a plain
// sequential read of the same bytes.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench/fmtreaders/bench_files.hpp"
#include "fmtreaders/fmtreaders.hpp"
#include "support/files.hpp"

namespace kvtraj::bench {
namespace {

std::int32_t atoms_of_dcd() {
  f77_molfile_init();
  std::int32_t handle = 0, natoms = 0, status = 0;
  f77_molfile_open_read(handle, natoms, bench_file("dcd"), "dcd");
  f77_molfile_close_read(handle, status);
  return natoms;
}

void PlainRead(benchmark::State& state, const char* extension) {
  const std::string path = bench_file(extension);
  std::vector<char> block(1 << 20);
  std::uint64_t bytes = 0;
  for (auto _ : state) {
    FilePtr f = open_file(path, "rb");
    if (!f) return state.SkipWithError("no input file");
    std::size_t got = 0;
    while ((got = std::fread(block.data(), 1, block.size(), f.get())) > 0) bytes += got;
    benchmark::DoNotOptimize(block.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

// Opens, reads every frame and closes; `type` as f77_molfile_open_read takes it.
void AllFrames(benchmark::State& state, const char* extension, const char* type) {
  const std::string path = bench_file(extension);
  const std::int32_t file_atoms = atoms_of_dcd();
  if (file_atoms < 1) return state.SkipWithError("no input file");
  std::vector<float> coords(3 * static_cast<std::size_t>(file_atoms));
  std::array<float, 6> box{};
  std::int64_t frames = 0;
  for (auto _ : state) {
    f77_molfile_init();
    std::int32_t handle = 0, natoms = file_atoms, status = 1;
    f77_molfile_open_read(handle, natoms, path, type);
    if (handle < 0) return state.SkipWithError("cannot open the input");
    for (;;) {
      f77_molfile_read_next(handle, file_atoms, coords, box, status);
      if (status != 1) break;
      ++frames;
      benchmark::DoNotOptimize(coords.data());
    }
    f77_molfile_close_read(handle, status);
  }
  if (frames == 0) return state.SkipWithError("no frame was read");
  state.counters["frames_per_s"] =
      benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
  state.counters["frames"] = static_cast<double>(frames) / static_cast<double>(state.iterations());
}

BENCHMARK_CAPTURE(PlainRead, dcd, "dcd")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(AllFrames, dcd, "dcd", "dcd")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(PlainRead, binpos, "binpos")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(AllFrames, binpos, "binpos", "binpos")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(PlainRead, mdcrd, "mdcrd")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(AllFrames, mdcrd, "mdcrd", "crd")->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kvtraj::bench

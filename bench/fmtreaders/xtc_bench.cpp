// XTC decoding through the reader handle table and encoding through the XTC writer, over
// KVTRAJ_BENCH_DIR/traj.xtc (bench/fmtreaders/compare_xtc.py writes it and times MDTraj beside).
#include <benchmark/benchmark.h>

#include <array>
#include <cstdio>
#include <vector>

#include "bench/fmtreaders/bench_files.hpp"
#include "bench/fmtreaders/read_every_frame.hpp"
#include "fmtreaders/fmtreaders.hpp"
#include "fmtwriters/fmtwriters.hpp"

namespace kvtraj::bench {
namespace {

// Every frame of traj.xtc (Å) and the atom count; empty when the file is missing.
struct Frames {
  std::int32_t natoms = 0;
  std::vector<std::vector<float>> frames;
};

Frames read_all(const std::string& path) {
  f77_molfile_init();
  Frames all;
  std::int32_t handle = 0, status = 1;
  f77_molfile_open_read(handle, all.natoms, path, "xtc");
  if (handle < 0) return {};
  std::vector<float> coords(3 * static_cast<std::size_t>(all.natoms));
  std::array<float, 6> box{};
  for (f77_molfile_read_next(handle, all.natoms, coords, box, status); status == 1;
       f77_molfile_read_next(handle, all.natoms, coords, box, status)) {
    all.frames.push_back(coords);
  }
  f77_molfile_close_read(handle, status);
  return all;
}

void report(benchmark::State& state, std::int64_t frames) {
  state.counters["frames_per_s"] =
      benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
}

// Opens, reads every frame into one frame buffer and closes.
void Decode(benchmark::State& state) {
  const std::string path = bench_file("xtc");
  std::int64_t frames = 0;
  for (auto _ : state) {
    std::int32_t natoms = 0;
    const std::int64_t read = read_every_frame(path, "xtc", natoms);
    if (read < 0) return state.SkipWithError("no traj.xtc in KVTRAJ_BENCH_DIR");
    frames += read;
  }
  report(state, frames);
}

// Writes the frames held in memory to a new XTC file at 1000/nm.
void Encode(benchmark::State& state) {
  const Frames all = read_all(bench_file("xtc"));
  if (all.frames.empty()) return state.SkipWithError("no traj.xtc in KVTRAJ_BENCH_DIR");
  const std::string out = bench_file("out.xtc");
  const UnitCell cell{100.0f, 100.0f, 100.0f, 90.0f, 90.0f, 90.0f};
  std::int64_t frames = 0;
  for (auto _ : state) {
    auto w = TrajectoryWriter::create(out, TrajectoryFormat::xtc, all.natoms, true, "");
    bool ok = w != nullptr;
    for (std::size_t i = 0; ok && i < all.frames.size(); ++i)
      ok = w->write_frame(all.frames[i], cell);
    // The writer has reported why on standard output.
    if (!ok || !w->finish()) return state.SkipWithError("the XTC writer failed");
    frames += static_cast<std::int64_t>(all.frames.size());
  }
  std::remove(out.c_str());
  report(state, frames);
}

BENCHMARK(Decode)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Encode)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace kvtraj::bench

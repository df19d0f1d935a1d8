// The codec on one thread: encoding and decoding every block of KVTRAJ_BENCH_DIR/traj.f32
// (float32 frames, the atom count in traj.natoms) at 0.005, 0.05 and 0.5 Å, in MB/s of float32
// and frames/s, beside our XTC reader over traj.xtc (the same frames), in frames/s.
// bench/codec/compare.py writes the files and prints the ratios.
#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <vector>

#include "bench/fmtreaders/read_every_frame.hpp"
#include "codec/codec.hpp"
#include "fmtreaders/fmtreaders.hpp"

namespace kvtraj::bench {
namespace {

std::string bench_path(const char* name) {
  const char* dir = std::getenv("KVTRAJ_BENCH_DIR");
  return std::string(dir ? dir : ".") + "/" + name;
}

struct Input {
  std::int32_t natoms = 0;
  std::vector<float> frames;
};

const Input& input() {
  static const Input in = [] {
    Input i;
    std::ifstream(bench_path("traj.natoms")) >> i.natoms;
    std::ifstream f(bench_path("traj.f32"), std::ios::binary);
    f.seekg(0, std::ios::end);
    i.frames.resize(static_cast<std::size_t>(f.tellg()) / 4);
    f.seekg(0);
    f.read(reinterpret_cast<char*>(i.frames.data()),
           static_cast<std::streamsize>(4 * i.frames.size()));
    return i;
  }();
  return in;
}

double error_of(const benchmark::State& state) {
  return static_cast<double>(state.range(0)) / 1000.0;
}

struct Coded {
  codec::Model model;
  codec::Plan plan;
  std::int64_t block_frames = 0;
  std::vector<codec::EncodedBlock> blocks;
};

Coded prepare(double e) {
  const Input& in = input();
  Coded c;
  c.model.natoms = in.natoms;
  const std::size_t n = 3 * static_cast<std::size_t>(in.natoms);
  c.model.nframes = static_cast<std::int64_t>(in.frames.size() / n);
  c.block_frames = codec::frames_per_block(in.natoms);
  const std::int64_t sample = std::min(c.block_frames, c.model.nframes);
  const auto first = std::span(in.frames).first(static_cast<std::size_t>(sample) * n);
  double largest = 0.0;
  for (float v : first) largest = std::max(largest, std::fabs(static_cast<double>(v)));
  c.plan = codec::choose_plan(c.model, first, 0, sample, {}, codec::grid_step(e, largest), {});
  return c;
}

void encode_all(Coded& c, double e) {
  const Input& in = input();
  const std::size_t n = 3 * static_cast<std::size_t>(in.natoms);
  c.blocks.clear();
  for (std::int64_t at = 0; at < c.model.nframes; at += c.block_frames) {
    const std::int64_t count = std::min(c.block_frames, c.model.nframes - at);
    const auto frames = std::span(in.frames).subspan(static_cast<std::size_t>(at) * n,
                                                     static_cast<std::size_t>(count) * n);
    c.blocks.push_back(codec::encode_block(c.model, c.plan, {at, count, frames, {}}, e));
  }
}

void rates(benchmark::State& state, std::int64_t frames, std::size_t natoms) {
  state.counters["MB_per_s"] = benchmark::Counter(12.0 * static_cast<double>(natoms) * frames / 1e6,
                                                  benchmark::Counter::kIsRate);
  state.counters["frames_per_s"] =
      benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
}

// Quantising, predicting, coding and the writer's verification (a decode) of every block.
void Encode(benchmark::State& state) {
  if (input().frames.empty()) return state.SkipWithError("no traj.f32 in KVTRAJ_BENCH_DIR");
  Coded c = prepare(error_of(state));
  std::int64_t frames = 0;
  std::size_t bytes = 0;
  for (auto _ : state) {
    encode_all(c, error_of(state));
    frames += c.model.nframes;
  }
  for (const auto& b : c.blocks) bytes += b.bytes.size();
  rates(state, frames, static_cast<std::size_t>(c.model.natoms));
  state.counters["ratio"] =
      4.0 * static_cast<double>(input().frames.size()) / static_cast<double>(bytes);
}

void Decode(benchmark::State& state) {
  if (input().frames.empty()) return state.SkipWithError("no traj.f32 in KVTRAJ_BENCH_DIR");
  Coded c = prepare(error_of(state));
  encode_all(c, error_of(state));
  const std::size_t n = 3 * static_cast<std::size_t>(c.model.natoms);
  std::vector<float> out(static_cast<std::size_t>(c.block_frames) * n);
  std::int64_t frames = 0;
  for (auto _ : state) {
    for (std::size_t b = 0; b < c.blocks.size(); ++b) {
      const std::int64_t at = static_cast<std::int64_t>(b) * c.block_frames;
      const std::int64_t count = std::min(c.block_frames, c.model.nframes - at);
      codec::decode_block(c.model, c.plan, c.blocks[b].bytes, at, count,
                          std::span(out).first(static_cast<std::size_t>(count) * n), "bench");
      benchmark::DoNotOptimize(out.data());
    }
    frames += c.model.nframes;
  }
  rates(state, frames, static_cast<std::size_t>(c.model.natoms));
}

// Our XTC reader through the handle table: open, every frame, close.
void XtcRead(benchmark::State& state) {
  const std::string path = bench_path("traj.xtc");
  std::int64_t frames = 0;
  std::int32_t natoms = 0;
  for (auto _ : state) {
    const std::int64_t read = read_every_frame(path, "xtc", natoms);
    if (read < 0) return state.SkipWithError("no traj.xtc in KVTRAJ_BENCH_DIR");
    frames += read;
  }
  rates(state, frames, static_cast<std::size_t>(natoms));
}

BENCHMARK(Encode)->Arg(5)->Arg(50)->Arg(500)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(Decode)->Arg(5)->Arg(50)->Arg(500)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(XtcRead)->Unit(benchmark::kMillisecond)->MinTime(1.0);

}  // namespace
}  // namespace kvtraj::bench

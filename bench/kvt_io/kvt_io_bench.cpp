// The KVT module against plain file I/O of the same bytes, timed side by side in one run:
//  - kvtopen of a ~200 MB KVT4 and KVT6 file against a sequential read of the same file;
//  - kvtclose writing KVT6 (codes included) against a plain write of the same bytes, both
//    flushed to disk and renamed into place as kvtclose does;
//  - kvtopen of a KVT0 text file, in MB/s;
//  - kvtsnap of 10,000 atoms and 50 vectors against a plain pass reading the 50 eigenvectors
//    (the bandwidth bound; the 6 MB of vectors stay in the last-level cache here).
// Each benchmark alternates the two sides and reports the fastest of each (ours_ms, plain_ms,
// ratio = plain / ours speed ratio, so 1.0 is parity and 0.5 is half the speed).
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "kvt_io/kvt_io.hpp"
#include "support/files.hpp"

namespace kvtraj {
namespace {

constexpr std::int32_t kAtoms = 10000;
constexpr std::int32_t kFrames = 5000;
constexpr std::int32_t kVectors = 1400;  // ~196 MB as KVT4
constexpr std::int32_t kSnapVectors = 50;

std::string work_dir() {
  static const std::string dir = [] {
    const char* base = std::getenv("KVTRAJ_BENCH_DIR");
    std::string pattern =
        (base ? std::string(base) : std::filesystem::temp_directory_path().string()) +
        "/kvt-bench-XXXXXX";
    if (!::mkdtemp(pattern.data())) std::abort();
    return pattern;
  }();
  return dir;
}

kvtfile random_handle(std::int32_t natoms, std::int32_t nframes, std::int32_t nvecs,
                      const std::string& path) {
  std::mt19937 gen(5);
  std::normal_distribution<float> normal;
  std::vector<float> avg(static_cast<std::size_t>(3 * natoms));
  for (float& a : avg) a = 10.0f * normal(gen);
  kvtfile h = kvtcreate(1, path, "benchmark", natoms, nframes, nvecs, 0.0f, avg);
  for (float& e : h.evecs) e = normal(gen) * 0.01f;
  for (float& p : h.proj) p = normal(gen) * 30.0f;
  for (std::size_t k = 0; k < h.evals.size(); ++k) h.evals[k] = 1000.0f / static_cast<float>(k + 1);
  return h;
}

// The file written once per magic.
const std::string& big_file(const std::string& magic) {
  static std::string files[2];
  std::string& path = files[magic == "KVT6" ? 1 : 0];
  if (path.empty()) {
    path = work_dir() + "/big_" + magic + ".kvt";
    kvtfile h = random_handle(kAtoms, kFrames, kVectors, path);
    h.magic = magic;
    if (kvtclose(h) != 0) std::abort();
  }
  return path;
}

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

double plain_read(const std::string& path) {
  const auto t0 = std::chrono::steady_clock::now();
  std::FILE* f = std::fopen(path.c_str(), "rb");
  std::vector<char> block(1 << 20);
  std::size_t total = 0;
  for (std::size_t got; (got = std::fread(block.data(), 1, block.size(), f)) > 0;) total += got;
  std::fclose(f);
  benchmark::DoNotOptimize(total);
  return seconds_since(t0);
}

void report(benchmark::State& state, double ours, double plain) {
  state.counters["ours_ms"] = ours * 1e3;
  state.counters["plain_ms"] = plain * 1e3;
  state.counters["ratio"] = plain / ours;
}

void open_against_read(benchmark::State& state, const std::string& magic) {
  const std::string& path = big_file(magic);
  double ours = 1e30, plain = 1e30;
  for (auto _ : state) {
    plain = std::min(plain, plain_read(path));
    const auto t0 = std::chrono::steady_clock::now();
    const kvtfile h = kvtopen(1, path);
    ours = std::min(ours, seconds_since(t0));
    if (h.status != 0) state.SkipWithError("kvtopen failed");
  }
  report(state, ours, plain);
  state.counters["MB"] = static_cast<double>(std::filesystem::file_size(path)) / 1e6;
}

void BM_kvtopen_kvt4_vs_read(benchmark::State& state) {
  open_against_read(state, "KVT4");
}
void BM_kvtopen_kvt6_vs_read(benchmark::State& state) {
  open_against_read(state, "KVT6");
}
BENCHMARK(BM_kvtopen_kvt4_vs_read)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_kvtopen_kvt6_vs_read)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

// Writes `bytes` to a temporary beside `path`, syncs and renames it, like kvtclose.
double plain_write(const std::string& path, const std::vector<char>& bytes) {
  const auto t0 = std::chrono::steady_clock::now();
  const std::string temp = path + ".tmp";
  std::FILE* f = std::fopen(temp.c_str(), "wb");
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fflush(f);
  ::fsync(::fileno(f));
  std::fclose(f);
  std::rename(temp.c_str(), path.c_str());
  return seconds_since(t0);
}

void BM_kvtclose_kvt6_vs_write(benchmark::State& state) {
  const std::string out = work_dir() + "/close6.kvt";
  const kvtfile model = random_handle(kAtoms, kFrames, kVectors, out);
  std::vector<char> bytes(std::filesystem::file_size(big_file("KVT6")));
  std::FILE* f = std::fopen(big_file("KVT6").c_str(), "rb");
  if (std::fread(bytes.data(), 1, bytes.size(), f) != bytes.size()) std::abort();
  std::fclose(f);
  double ours = 1e30, plain = 1e30;
  for (auto _ : state) {
    state.PauseTiming();
    kvtfile h = model;
    h.magic = "KVT6";
    state.ResumeTiming();
    plain = std::min(plain, plain_write(work_dir() + "/plain6.kvt", bytes));
    const auto t0 = std::chrono::steady_clock::now();
    if (kvtclose(h) != 0) state.SkipWithError("kvtclose failed");
    ours = std::min(ours, seconds_since(t0));
  }
  report(state, ours, plain);
}
BENCHMARK(BM_kvtclose_kvt6_vs_write)->Unit(benchmark::kMillisecond)->Iterations(4)->UseRealTime();

// A KVT0 file of ~50 MB written here in "(10f8.3)" lines.
std::string kvt0_file() {
  const std::string path = work_dir() + "/text.kvt";
  const std::int32_t natoms = 10000, nframes = 2000, nvecs = 40;
  std::FILE* f = std::fopen(path.c_str(), "w");
  std::fprintf(f, "KVT0\nbenchmark\n%8d%8d%8d%8.3f\n", natoms, nframes, nvecs, 0.0);
  std::mt19937 gen(3);
  std::uniform_real_distribution<float> value(-99.0f, 99.0f);
  auto block = [&](std::int32_t count) {
    for (std::int32_t i = 0; i < count; ++i) {
      std::fprintf(f, "%8.3f%s", static_cast<double>(value(gen)),
                   (i % 10 == 9 || i + 1 == count) ? "\n" : "");
    }
  };
  block(3 * natoms);
  for (std::int32_t k = 0; k < nvecs; ++k) {
    block(3 * natoms);
    block(1);
    block(nframes);
  }
  std::fclose(f);
  return path;
}

void BM_kvtopen_kvt0(benchmark::State& state) {
  static const std::string path = kvt0_file();
  double ours = 1e30;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    const kvtfile h = kvtopen(1, path);
    ours = std::min(ours, seconds_since(t0));
    if (h.status != 0) state.SkipWithError("kvtopen failed");
  }
  const double mb = static_cast<double>(std::filesystem::file_size(path)) / 1e6;
  state.counters["MB"] = mb;
  state.counters["MB_per_s"] = mb / ours;
}
BENCHMARK(BM_kvtopen_kvt0)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_kvtsnap_10000_atoms_50_vectors(benchmark::State& state) {
  const kvtfile h = random_handle(kAtoms, 100, kSnapVectors, work_dir() + "/unused.kvt");
  std::vector<float> snap(h.avg.size());
  // The bound: one plain pass reading the 50 eigenvectors (and writing one snapshot).
  double plain = 1e30;
  for (int rep = 0; rep < 50; ++rep) {
    const auto t0 = std::chrono::steady_clock::now();
    std::uint32_t sum = 0;  // an integer sum vectorises, so it runs at the speed of the reads
    for (float e : h.evecs) sum += std::bit_cast<std::uint32_t>(e);
    benchmark::DoNotOptimize(sum);
    plain = std::min(plain, seconds_since(t0));
  }
  std::int32_t frame = 1;
  for (auto _ : state) {
    kvtsnap(h, frame, snap);
    benchmark::DoNotOptimize(snap.data());
    frame = frame % 100 + 1;
  }
  state.counters["snapshots_per_s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["bound_per_s"] = 1.0 / plain;
  state.counters["GB_per_s_evecs"] = static_cast<double>(h.evecs.size() * 4) / plain / 1e9;
}
BENCHMARK(BM_kvtsnap_10000_atoms_50_vectors)->Unit(benchmark::kMicrosecond)->UseRealTime();

// Peak resident memory of kvtopen alone, in a child process, against the handle's arrays.
void report_open_peak(const std::string& magic) {
  const std::string& path = big_file(magic);
  const pid_t pid = ::fork();
  if (pid == 0) {
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    const kvtfile h = kvtopen(1, path);
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    const double arrays =
        static_cast<double>((h.avg.size() + h.evals.size() + h.evecs.size() + h.proj.size()) * 4);
    std::printf("%s kvtopen peak RSS growth %.1f MB, handle arrays %.1f MB, one block %.2f MB\n",
                magic.c_str(), static_cast<double>(after.ru_maxrss - before.ru_maxrss) / 1024.0,
                arrays / 1e6, static_cast<double>(12 * kAtoms + 4 + 4 * kFrames) / 1e6);
    std::fflush(stdout);
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
}

}  // namespace
}  // namespace kvtraj

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  kvtraj::report_open_peak("KVT4");
  kvtraj::report_open_peak("KVT6");
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::filesystem::remove_all(kvtraj::work_dir());
  return 0;
}

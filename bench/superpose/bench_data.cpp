#include "bench_data.hpp"

#include <cstdio>
#include <cstdlib>
#include <random>
#include <stdexcept>

namespace kvtraj::bench {

std::vector<float> bench_floats(const std::string& name, std::size_t count, unsigned seed) {
  std::vector<float> values(count);
  if (const char* dir = std::getenv("KVTRAJ_BENCH_DIR")) {
    const std::string path = std::string(dir) + "/" + name;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    const bool ok = f && std::fread(values.data(), sizeof(float), count, f) == count;
    if (f) std::fclose(f);
    if (!ok)
      throw std::runtime_error("cannot read " + std::to_string(count) + " floats from " + path);
    return values;
  }
  std::mt19937 rng(seed);
  std::normal_distribution<float> normal(0.0f, 8.0f);
  for (float& v : values) v = normal(rng);
  return values;
}

}  // namespace kvtraj::bench

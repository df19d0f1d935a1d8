// Runs a fuzz target over committed inputs without libFuzzer, so that every compiler and the
// test suite replay the corpora: the first argument is the target's corpus directory, which must
// hold inputs (an empty or missing corpus would pass without testing anything); further
// arguments are optional files or directories (regression inputs).
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

void replay(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

}  // namespace

std::size_t replay_directory(const std::filesystem::path& directory) {
  std::size_t count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    if (entry.is_regular_file()) {
      replay(entry.path());
      ++count;
    }
  }
  return count;
}

int main(int argc, char** argv) {
  std::size_t count = 0;
  if (argc < 2 || !std::filesystem::is_directory(argv[1]) ||
      (count = replay_directory(argv[1])) == 0) {
    std::fprintf(stderr, "no inputs in the corpus %s\n", argc < 2 ? "(none given)" : argv[1]);
    return 1;
  }
  for (int i = 2; i < argc; ++i) {
    const std::filesystem::path arg = argv[i];
    if (std::filesystem::is_directory(arg)) {
      count += replay_directory(arg);
    } else if (std::filesystem::exists(arg)) {
      replay(arg);
      ++count;
    }
  }
  std::fprintf(stderr, "replayed %zu inputs\n", count);
  return 0;
}

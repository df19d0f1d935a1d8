// A node-trajectory converter run in process on any input text: the program's own main,
// renamed converter_main when it is compiled into this target, converts the input to a file in
// the scratch directory.
#include <cstdio>
#include <string>

#include "fuzz/fuzz_support.hpp"

int converter_main(int argc, char** argv);

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kvtraj::fuzz::init();
  const kvtraj::fuzz::InputFile input(data, size, ".txt");
  std::string program = "converter", in = input.path();
  std::string out = kvtraj::fuzz::scratch_directory() + "/output";
  char* argv[] = {program.data(), in.data(), out.data(), nullptr};
  (void)converter_main(3, argv);
  std::remove(out.c_str());
  return 0;
}

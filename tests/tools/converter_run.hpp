// Runs a node-trajectory converter the way a user does (input file, output file, two
// arguments) and reads golden files whose @IN@ and @OUT@ stand for the paths of the run.
#pragma once

#include <string>
#include <string_view>

#include "tests/testsupport/testsupport.hpp"

namespace kvtraj::testing {

struct Conversion {
  RunResult run;
  std::string output;  // the output file, empty when the program did not create it
  std::string in;
  std::string out;
};

// Converts `input_text` (written to a file in `dir`) with `program`.
Conversion convert_text(const std::string& program, std::string_view input_text, const TempDir& dir,
                        long file_size_limit = -1);
// Converts the file at `input_path` with `program`, writing into `dir`.
Conversion convert_file(const std::string& program, const std::string& input_path,
                        const TempDir& dir, long file_size_limit = -1);

// The committed file tests/data/tools/`name` with @IN@ and @OUT@ replaced by the run's paths.
std::string golden(std::string_view name, const Conversion& conversion);

// `count` records "*", "Blob 0, step 10·k", an optional state word, one node line.
std::string numbered_records(int count, bool with_state_line);

}  // namespace kvtraj::testing

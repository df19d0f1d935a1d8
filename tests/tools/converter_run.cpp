#include "tests/tools/converter_run.hpp"

#include "support/files.hpp"

namespace kvtraj::testing {

namespace {

void replace_all(std::string& text, std::string_view from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

}  // namespace

Conversion convert_file(const std::string& program, const std::string& input_path,
                        const TempDir& dir, long file_size_limit) {
  Conversion c;
  c.in = input_path;
  c.out = dir.path("out");
  c.run = run_program(program, {c.in, c.out}, {}, file_size_limit);
  if (file_exists(c.out)) c.output = read_file(c.out);
  return c;
}

Conversion convert_text(const std::string& program, std::string_view input_text, const TempDir& dir,
                        long file_size_limit) {
  write_file(dir.path("in.txt"), input_text);
  return convert_file(program, dir.path("in.txt"), dir, file_size_limit);
}

std::string golden(std::string_view name, const Conversion& conversion) {
  std::string text = read_file(data_path("tools/" + std::string(name)));
  replace_all(text, "@IN@", conversion.in);
  replace_all(text, "@OUT@", conversion.out);
  return text;
}

std::string numbered_records(int count, bool with_state_line) {
  std::string text;
  for (int k = 1; k <= count; ++k) {
    text += "*\nBlob 0, step " + std::to_string(10 * k) + "\n";
    if (with_state_line) text += "DYNAMIC\n";
    text += "1\n1e-9 2e-9 3e-9 0 0 0 0 0 0 0\n";
  }
  return text;
}

}  // namespace kvtraj::testing

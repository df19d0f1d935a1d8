// Flag lookup over the command line and list-directed reading of option values.
#include <cstdio>
#include <optional>
#include <utility>

#include "clopts/clopts.hpp"
#include "support/fatal.hpp"
#include "support/files.hpp"
#include "support/fixed_text.hpp"
#include "support/fortran_input.hpp"

namespace kvtraj {
namespace {

// Arguments 1..count, without the program name.
struct CommandLine {
  bool set = false;
  std::vector<std::string> args;
};

CommandLine& command_line() {
  static CommandLine line;
  return line;
}

std::vector<std::string> without_program(std::vector<std::string> args) {
  if (!args.empty()) args.erase(args.begin());
  return args;
}

// An argument as fetched into the 160-character buffer: cut, trailing blanks dropped.
std::string fetched(std::string_view arg) {
  return std::string(trim_right(fit_text(arg, kNameLength)));
}

// The process's arguments, NUL-separated in /proc/self/cmdline.
std::vector<std::string> own_arguments() {
  std::vector<std::string> args;
  FilePtr f = open_file("/proc/self/cmdline", "rb");
  if (!f) return args;
  std::string current;
  for (int c = std::fgetc(f.get()); c != EOF; c = std::fgetc(f.get())) {
    if (c == '\0') {
      args.push_back(std::move(current));
      current.clear();
    } else {
      current.push_back(static_cast<char>(c));
    }
  }
  return args;
}

}  // namespace

const std::vector<std::string>& arguments() {
  CommandLine& line = command_line();
  if (!line.set) {
    line.args = without_program(own_arguments());
    line.set = true;
  }
  return line.args;
}

namespace {

// 0-based position of the last argument equal to `flag` among the first `scanned`.
std::optional<std::size_t> last_match(std::string_view flag, std::size_t scanned) {
  const std::vector<std::string>& args = arguments();
  std::optional<std::size_t> found;
  for (std::size_t p = 0; p < scanned && p < args.size(); ++p) {
    if (same_text(fetched(args[p]), flag)) found = p;
  }
  return found;
}

// The argument after the last `flag`, if both exist.
std::optional<std::string> value_after(std::string_view flag) {
  const std::vector<std::string>& args = arguments();
  if (args.size() < 2) return std::nullopt;
  const auto p = last_match(flag, args.size() - 1);
  if (!p) return std::nullopt;
  return args[*p + 1];
}

[[noreturn]] void bad_number(std::string_view kind, std::string_view flag, std::string_view text) {
  die(stdout, "Cannot read " + std::string(kind) + " for option " + std::string(trim_right(flag)) +
                  " from \"" + std::string(text) + "\"");
}

}  // namespace

void set_arguments(int argc, const char* const* argv) {
  set_arguments(std::vector<std::string>(argv, argv + argc));
}

void set_arguments(std::vector<std::string> args) {
  CommandLine& line = command_line();
  line.args = without_program(std::move(args));
  line.set = true;
}

bool getflag(std::string_view flag) {
  return last_match(flag, arguments().size()).has_value();
}

bool getcarg(std::string_view flag, std::string& value, std::size_t length) {
  const auto text = value_after(flag);
  if (!text) return false;
  value = std::string(trim_right(fit_text(*text, length)));
  return true;
}

bool getiarg(std::string_view flag, std::int32_t& value) {
  const auto text = value_after(flag);
  if (!text) return false;
  std::int32_t read = 0;
  const std::string buffer = fetched(*text);
  if (read_list_int(buffer, read) != kIoOk) bad_number("an integer", flag, buffer);
  value = read;
  return true;
}

bool getrarg(std::string_view flag, float& value) {
  const auto text = value_after(flag);
  if (!text) return false;
  float read = 0.0f;
  const std::string buffer = fetched(*text);
  if (read_list_real(buffer, read) != kIoOk) bad_number("a real", flag, buffer);
  value = read;
  return true;
}

}  // namespace kvtraj

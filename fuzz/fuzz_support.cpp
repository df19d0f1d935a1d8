#include "fuzz/fuzz_support.hpp"
#include "support/fatal.hpp"
#include "support/files.hpp"
#include "support/messages.hpp"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace kvtraj::fuzz {

void init() {
  static const bool done = [] {
    set_fatal_action(throw_fatal_error);
    // The texts of refused inputs (a line on standard error each) would slow the runs down.
    set_message_sink([](const Message&) {});
    if (!std::freopen("/dev/null", "w", stdout)) std::abort();
    return true;
  }();
  (void)done;
}

const std::string& scratch_directory() {
  static const std::string dir = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "kvtraj-fuzz-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) std::abort();
    // Removed at exit, with whatever a target left behind.
    static struct Cleanup {
      std::string path;
      ~Cleanup() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
      }
    } cleanup{pattern};
    return pattern;
  }();
  return dir;
}

InputFile::InputFile(const std::uint8_t* data, std::size_t size, std::string_view suffix)
    : path_(scratch_directory() + "/input" + std::string(suffix)) {
  FilePtr f = open_file(path_, "wb");
  if (!f || (size > 0 && std::fwrite(data, 1, size, f.get()) != size)) std::abort();
}

InputFile::~InputFile() {
  std::remove(path_.c_str());
}

}  // namespace kvtraj::fuzz

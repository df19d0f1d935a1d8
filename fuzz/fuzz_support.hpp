// Helpers shared by the fuzz targets: fatal exits turned into exceptions the target catches,
// the modules' messages silenced, and inputs that the entry point under test must read from a
// file written to a private temporary directory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "support/fatal.hpp"

namespace kvtraj::fuzz {

// Installs the throwing fatal action, drops the modules' texts and sends standard output to
// /dev/null (once).
void init();

// `data` written to a file whose name ends in `suffix`; removed again on destruction.
class InputFile {
 public:
  InputFile(const std::uint8_t* data, std::size_t size, std::string_view suffix);
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// A private directory for this process's files.
const std::string& scratch_directory();

// Runs `body`; a fatal exit of a module (an exception here) is an expected outcome.
template <class Body>
void survive(Body&& body) {
  try {
    body();
  } catch (const FatalError&) {
  }
}

}  // namespace kvtraj::fuzz

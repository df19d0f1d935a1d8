// The one way the modules end the program: `die` writes its line through the message sink and
// runs the fatal action, which by default ends the process with status 1 and can be replaced
// (`throw_fatal_error` turns fatal conditions into `FatalError` exceptions for programs, tests,
// fuzzers and the Python package). Also the allocation that is fatal when it fails.
//
// Threads: the fatal action is process-wide; install it before starting work.
#pragma once

#include <cstddef>
#include <cstdio>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "support/messages.hpp"

#pragma GCC visibility push(default)  // the installed interface, exported by shared builds

namespace kvtraj {

// The final action of `die`: receives the exit status and the message already printed. The
// default flushes and ends the process. A replacement may throw; if it returns, the process ends.
using FatalAction = void (*)(int status, std::string_view message);

// Installs `action` (nullptr restores the default) and returns the previous one.
FatalAction set_fatal_action(FatalAction action);

// Thrown by `throw_fatal_error`, the action that tests and fuzz targets install.
struct FatalError : std::runtime_error {
  FatalError(int exit_status, std::string_view message)
      : std::runtime_error(std::string(message)), status(exit_status) {}
  int status = 1;
};
[[noreturn]] void throw_fatal_error(int status, std::string_view message);

// Writes `line` and a line break on `stream`, flushes both standard streams and ends the
// program with status 1 (through the fatal action).
[[noreturn]] void die(std::FILE* stream, std::string_view line);
// The same on standard error.
[[noreturn]] void die(std::string_view line);

// Makes a failed allocation anywhere (operator new) fatal with "out of memory", through `die`,
// for programs that do not catch std::bad_alloc themselves.
void die_when_out_of_memory();

// A vector of n value-initialised elements; a failed allocation is fatal with the module's
// "Memory allocation error" rather than an uncaught exception.
template <class T>
std::vector<T> allocate_or_die(std::size_t n) {
  try {
    return std::vector<T>(n);
  } catch (const std::bad_alloc&) {
    die("Memory allocation error");
  } catch (const std::length_error&) {
    die("Memory allocation error");
  }
}

}  // namespace kvtraj

#pragma GCC visibility pop

// Named command-line options: each query scans the whole command line for one flag (compared as
// blank-padded text, exact and case-sensitive) and, for the typed queries, reads the argument
// that follows it. The last occurrence of a flag wins; when a query returns false its value is
// left untouched, so the caller's prior value acts as the default. A value that cannot be read
// as the requested number ends the program with status 1 and a message naming flag and text.
//
// The arguments come from `set_arguments`, which a program calls from main; without that call
// they are read from the process's own command line (/proc/self/cmdline).
//
// Threads: the command line is stored once per process; set it before starting threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "support/fixed_text.hpp"

#pragma GCC visibility push(default)  // the installed interface, exported by shared builds

namespace kvtraj {

// args[0] is the program name, as argv[0].
void set_arguments(int argc, const char* const* argv);
void set_arguments(std::vector<std::string> args);
// Arguments 1..count (without the program name): the one stored command line.
const std::vector<std::string>& arguments();

// True when `flag` is any argument.
bool getflag(std::string_view flag);
// value = the argument after the last `flag`, cut to `length` characters, without trailing
// blanks. False (value untouched) when the flag is absent or has no argument after it.
bool getcarg(std::string_view flag, std::string& value, std::size_t length = kNameLength);
// The same, the argument read as a list-directed integer or real.
bool getiarg(std::string_view flag, std::int32_t& value);
bool getrarg(std::string_view flag, float& value);

}  // namespace kvtraj

#pragma GCC visibility pop

#include <cstdlib>
#include <new>

#include "support/fatal.hpp"
#include "support/interrupts.hpp"
#include "support/messages.hpp"

namespace kvtraj {
namespace {

// std::exit runs no destructors of the stack: the outputs' temporaries are removed here.
[[noreturn]] void exit_process(int status, std::string_view /*message*/) {
  remove_temporaries();
  std::exit(status);
}

FatalAction fatal_action = exit_process;

}  // namespace

FatalAction set_fatal_action(FatalAction action) {
  FatalAction previous = fatal_action;
  fatal_action = action ? action : exit_process;
  return previous;
}

void throw_fatal_error(int status, std::string_view message) {
  throw FatalError(status, message);
}

void die(std::FILE* stream, std::string_view line) {
  emit(MessageKind::fatal, line, stream);
  std::fflush(stdout);
  std::fflush(stderr);
  fatal_action(1, line);
  exit_process(1, line);  // an action that returns still ends the program
}

void die(std::string_view line) {
  die(stderr, line);
}

void die_when_out_of_memory() {
  std::set_new_handler([] { die("out of memory"); });
}

}  // namespace kvtraj

// kvt: compress trajectories into KVT files, expand, convert, describe and query them, and
// select atoms of a topology.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "apps/kvt/kvt_app.hpp"
#include "clopts/clopts.hpp"
#include "support/fatal.hpp"
#include "support/interrupts.hpp"
#include "support/messages.hpp"

namespace {

using namespace kvtraj::app;

int dispatch(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command.empty() || command == "--help" || command == "-h") {
    print_usage(command.empty() ? stderr : stdout, "");
    return command.empty() ? 1 : 0;
  }
  if (!is_command(command)) fail("unknown command " + command + " (see kvt --help)");
  if (kvtraj::getflag("--help") || kvtraj::getflag("-h")) {
    print_usage(stdout, command);
    return 0;
  }
  if (command == "compress") return run_compress();
  if (command == "expand") return run_expand();
  if (command == "convert") return run_convert();
  if (command == "query") return run_query();
  if (command == "select") return run_select();
  if (command == "project") return run_project();
  if (command == "compare") return run_compare();
  if (command == "modes") return run_modes();
  if (command == "export") return run_export();
  static constexpr std::string_view kValued[] = {"--natoms", "--top", "--select", "--index",
                                                 "--pbc"};
  const auto files = check_arguments({}, kValued, 1);
  if (files.empty()) fail("info needs a file (see kvt info --help)");
  return run_info(files.front());
}

// Standard output carries only kvt's own results: the modules' warnings and errors go to
// standard error, their information only with --verbose. Their fatal lines are the command's
// and carry the program's prefix.
void route_module_texts(bool verbose) {
  kvtraj::set_message_sink([verbose](const kvtraj::Message& m) {
    if (m.kind == kvtraj::MessageKind::info && !verbose) return;
    if (m.kind != kvtraj::MessageKind::fatal) {
      kvtraj::write_to_stream({m.kind, m.text, stderr});
      return;
    }
    std::string_view text = m.text;
    text.remove_prefix(std::min(text.find_first_not_of(' '), text.size()));
    const std::string line = "kvt: " + std::string(text);
    kvtraj::write_to_stream({m.kind, line, stderr});
  });
}

// The command's status; failures are reported here.
int run(int argc, char** argv) {
  try {
    const int status = dispatch(argc, argv);
    if (std::fflush(stdout) != 0) fail("standard output could not be written");
    return status;
  } catch (const AppError& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "kvt: %s\n", e.what());
  } catch (const kvtraj::FatalError& e) {
    return e.status;
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "kvt: out of memory\n");
  }
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  kvtraj::stop_on_signals("kvt");
  kvtraj::set_arguments(argc, argv);
  route_module_texts(kvtraj::getflag("--verbose"));
  // Fatal conditions of the modules unwind, so that partial outputs are removed; their
  // message is already written through the sink.
  kvtraj::set_fatal_action(kvtraj::throw_fatal_error);
  const int status = run(argc, argv);
  if (status == 0) return 0;
  // A failed run skips the libraries' exit handlers: when the address space ran out, OpenBLAS's
  // waits forever for threads that cannot get their buffers. Everything was unwound already.
  std::fflush(nullptr);
  std::_Exit(status);
}

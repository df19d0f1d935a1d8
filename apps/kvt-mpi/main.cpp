// kvt-mpi: `kvt compress` spread over the processes of an MPI job. Each rank reads its own
// contiguous share of the frames; partial sums meet in MPI_Allreduce; rank 0 gathers the
// projections, writes the KVT file and prints progress and the summary. A failure on any rank
// ends every rank with status 1 and the one line rank 0 prints.
#include <mpi.h>

#include <cstdio>
#include <new>
#include <string>

#include "apps/kvt-mpi/team.hpp"
#include "apps/kvt/kvt_app.hpp"
#include "clopts/clopts.hpp"
#include "support/fatal.hpp"
#include "support/interrupts.hpp"
#include "support/messages.hpp"

namespace {

using kvtraj::mpi::MpiTeam;

// Fatal lines are held back: the line every rank agrees on is printed once, by rank 0.
// Information is rank 0's, with --verbose; warnings come from every rank.
void route_module_texts(bool verbose, int rank) {
  kvtraj::set_message_sink([verbose, rank](const kvtraj::Message& m) {
    if (m.kind == kvtraj::MessageKind::fatal) return;
    if (m.kind == kvtraj::MessageKind::info && !(verbose && rank == 0)) return;
    kvtraj::write_to_stream({m.kind, m.text, stderr});
  });
}

int dispatch(MpiTeam& team, int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  const bool help = command == "--help" || command == "-h" || kvtraj::getflag("--help");
  if (command != "compress" && !help) {
    kvtraj::app::fail("the only command is compress (see kvt-mpi --help)");
  }
  if (help) {
    if (team.rank() == 0) kvtraj::app::print_usage_as(stdout, "compress", "kvt-mpi");
    return 0;
  }
  return kvtraj::app::run_compress(team);
}

// The bytes of every reduction, for comparison with the cost model.
void print_reductions(const MpiTeam& team) {
  std::uint64_t total = 0;
  std::string list;
  for (const std::uint64_t bytes : team.reductions()) {
    total += bytes;
    list += ' ';
    list += std::to_string(bytes);
  }
  std::fprintf(stderr, "kvt-mpi: %zu reductions, %llu bytes:%s\n", team.reductions().size(),
               static_cast<unsigned long long>(total), list.c_str());
}

// `verbose` is read beforehand: nothing that can fail (an allocation) may come between the
// committed file and the end of a successful run.
int run(MpiTeam& team, int argc, char** argv, bool verbose) {
  std::string message;
  try {
    const int status = dispatch(team, argc, argv);
    if (team.rank() == 0 && verbose) print_reductions(team);
    if (std::fflush(stdout) == 0) return status;
    message = "standard output could not be written";
  } catch (const kvtraj::mpi::TeamFailure& e) {
    if (team.rank() == 0) std::fprintf(stderr, "kvt-mpi: %s\n", e.what());
    return 1;
  } catch (const std::bad_alloc&) {
    message = "out of memory";
  } catch (const std::exception& e) {
    message = e.what();
  }
  // After the last collective a failure is this rank's own (rank 0 writing the file).
  const bool alone = team.finished();
  if (!alone) message = team.fail(message);
  if (alone || team.rank() == 0) std::fprintf(stderr, "kvt-mpi: %s\n", message.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  MPI_Init(&argc, &argv);
  // A signal ends this rank at once; mpirun then ends the others, which do the same.
  kvtraj::stop_on_signals("kvt-mpi");
  int status = 1;
  {
    MpiTeam team;
    kvtraj::set_arguments(argc, argv);
    const bool verbose = kvtraj::getflag("--verbose");
    route_module_texts(verbose, team.rank());
    // Fatal conditions unwind to `run`, which settles them with the other ranks.
    kvtraj::set_fatal_action(kvtraj::throw_fatal_error);
    status = run(team, argc, argv, verbose);
  }
  // The outcome is printed; once a failed rank exits, mpirun ends the others with SIGTERM.
  kvtraj::end_quietly_on_signals(status);
  std::fflush(stdout);
  MPI_Finalize();
  return status;
}

// The engine's entry points: the passes in order (centre, solver, projections), the choice of
// solver, and the KVT file.
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>

#include "kvt_io/kvt_io.hpp"
#include "pca/blas.hpp"
#include "pca/centre.hpp"
#include "pca/solvers.hpp"
#include "pca/stream.hpp"
#include "support/fatal.hpp"
#include "support/files.hpp"

namespace kvtraj::pca {
namespace {

// LAPACK's 32-bit indices address at most this order (n * n must fit in 31 bits).
constexpr std::int64_t kMaxMatrixOrder = 46340;
// Above this order the exact factorisation takes longer than a few Krylov passes: auto turns
// to the randomized solver.
constexpr std::int64_t kQuickExactOrder = 3000;
constexpr std::int32_t kKvtUnit = 20;

std::int64_t default_budget() {
  const long pages = sysconf(_SC_PHYS_PAGES), page = sysconf(_SC_PAGE_SIZE);
  if (pages <= 0 || page <= 0) return std::int64_t{1} << 30;
  return static_cast<std::int64_t>(pages) * page / 4;
}

// Spread frames rule out the Gram matrix: the exact solver's matrix is then the covariance.
Solver pick_solver(Solver asked, std::int64_t n, std::int64_t frames, bool spread,
                   std::int64_t budget) {
  const std::int64_t order = spread ? n : std::min(n, frames);
  const std::uint64_t bytes = exact_bytes(n, frames, spread);
  const bool fits = bytes <= static_cast<std::uint64_t>(budget);
  if (asked == Solver::automatic) {
    return fits && order <= kQuickExactOrder ? Solver::exact : Solver::randomized;
  }
  if (asked == Solver::exact) {
    if (order > kMaxMatrixOrder) {
      die("the " + std::to_string(order) + " x " + std::to_string(order) +
          " matrix is beyond the exact solver's limit of " + std::to_string(kMaxMatrixOrder) +
          "; use the randomized solver or select fewer snapshots or atoms");
    }
    if (!fits) {
      die("the exact solver needs " + std::to_string(bytes >> 20) +
          " MiB, more than the memory budget of " + std::to_string(budget >> 20) + " MiB");
    }
  }
  return asked;
}

FitSpec fit_spec(const Options& options, std::int64_t n) {
  const auto natoms = static_cast<std::size_t>(n / 3);
  if (!options.fit_weights.empty() && options.fit_weights.size() != natoms) {
    die("pca: " + std::to_string(options.fit_weights.size()) + " fit weights for " +
        std::to_string(natoms) + " atoms");
  }
  if (!options.reference.empty() && options.reference.size() != static_cast<std::size_t>(n)) {
    die("pca: the reference structure holds " + std::to_string(options.reference.size() / 3) +
        " atoms, the frames " + std::to_string(natoms));
  }
  return FitSpec{options.fit, options.fit_weights, options.reference};
}

// The frames of all processes and whether there is more than one.
struct Share {
  std::int64_t frames = 0;
  bool several = false;
};

Share share_of(std::int64_t frames, Reducer& reduce) {
  std::vector<double> counts{static_cast<double>(frames), 1.0};
  reduce.sum(counts);
  return {static_cast<std::int64_t>(counts[0]), counts[1] > 1.5};
}

}  // namespace

Components analyse(FrameReader& reader, const Options& options, const ProgressFn& progress,
                   Reducer* reducer) {
  Reducer single;
  Reducer& reduce = reducer != nullptr ? *reducer : single;
  // The passes share their work out between threads themselves (pca/parallel.hpp); BLAS gets
  // more than one thread only for the exact factorisation.
  set_blas_threads(1);
  const std::int64_t last = options.last < 0 ? reader.frames() : options.last;
  Cores cores(options.threads, options.cancel);
  FrameStream stream(reader, options.first, last, progress, cores, reduce);
  if (stream.frames() < 1) die(reader.name() + ": no snapshots selected");
  const std::int64_t budget = options.memory_bytes > 0 ? options.memory_bytes : default_budget();
  const std::int64_t n = stream.coordinates();
  const Share share = share_of(stream.frames(), reduce);
  stream.start();
  const std::int64_t frames = share.frames;

  Components c;
  c.natoms = reader.natoms();
  c.frames = frames;
  c.solver = pick_solver(options.solver, n, frames, share.several, budget);
  const bool counted =
      options.choice.kind == VectorChoice::count || options.choice.kind == VectorChoice::at_most;
  const auto wanted = counted ? static_cast<std::int32_t>(options.choice.value) : 0;
  // A budget too small is refused before the first pass, and so is an address space too small
  // for what the solver will hold.
  std::uint64_t solver_bytes = 0;
  if (c.solver == Solver::randomized) {
    const KrylovSize size =
        krylov_size(n, frames, stream.block_frames(), stream.max_parts(), budget, wanted);
    solver_bytes = krylov_bytes(size, n, frames, stream.max_parts());
  } else {
    stream.set_block_frames(exact_block_frames(n));
    solver_bytes = exact_bytes(n, frames, share.several);
  }
  const std::uint64_t block_bytes = 2 * 4 * static_cast<std::uint64_t>(stream.block_frames() * n);
  require_address_space(solver_bytes + block_bytes, cores.count());
  // The randomized solver's first pass finds the average itself.
  Centre centre = find_centre(stream, fit_spec(options, n), cores, reduce, share.several,
                              c.solver == Solver::randomized);
  centre.frames = frames;
  c.fit_rounds = centre.rounds;
  const ChooseFn choose = [&](std::span<const float> values, double total) {
    const auto rank =
        static_cast<std::int32_t>(std::min<std::int64_t>(numeric_rank(values), frames - 1));
    return choose_vectors(values, total, rank, c.natoms, options.choice);
  };
  Solution s = c.solver == Solver::exact
                   ? solve_exact(stream, centre, reduce, budget, choose)
                   : solve_randomized(stream, centre, reduce, budget, wanted, choose);
  c.average = centre.average;
  c.eigenvalues = std::move(s.eigenvalues);
  c.total = s.total;
  c.kept = s.kept;
  c.vectors = std::move(s.vectors);
  c.proj = std::move(s.proj);
  c.passes = stream.passes();
  return c;
}

Summary write(const Components& c, const std::string& output, const Options& options,
              const ProgressFn& progress) {
  if (c.frames > std::numeric_limits<std::int32_t>::max()) {
    die(output + ": a KVT file holds at most 2147483647 snapshots");
  }
  const auto frames = static_cast<std::int32_t>(c.frames);
  const std::size_t n = c.average.size();
  kvtfile kvtf = kvtcreate(kKvtUnit, output, options.title, c.natoms, frames, c.kept,
                           static_cast<float>(c.total), c.average);
  for (std::int32_t k = 0; k < c.kept; ++k) {
    kvtwrite(kvtf, k + 1, std::span(c.vectors).subspan(k * n, n), c.eigenvalues[k],
             std::span(c.proj).subspan(static_cast<std::size_t>(k) * frames, frames));
  }
  if (options.kvt6) kvtf.magic = "KVT6";
  kvtf.atoms = options.atoms;
  // Named before the file is committed: an allocation that fails after the commit would end the
  // run with the new file in place of the old.
  const std::string step = "writing " + output;
  if (progress) progress(ProgressEvent{step, 0, 0, false});
  const std::int32_t status = kvtclose(kvtf);
  if (progress) progress(ProgressEvent{step, 0, 0, true});
  if (status != 0) die(output + ": the KVT file could not be written: " + std::strerror(status));

  Summary s;
  s.natoms = c.natoms;
  s.frames = c.frames;
  s.kept = c.kept;
  double captured = 0.0;
  for (std::int32_t k = 0; k < c.kept; ++k) captured += c.eigenvalues[k];
  s.percent = c.total > 0.0 ? 100.0 * captured / c.total : 100.0;
  s.expected_rmsd = expected_rmsd(c.eigenvalues, c.total, c.kept, c.natoms);
  s.bytes = file_size(output).value_or(0);
  s.solver = c.solver;
  s.fit_rounds = c.fit_rounds;
  s.passes = c.passes;
  return s;
}

Summary compress(FrameReader& reader, const std::string& output, const Options& options,
                 const ProgressFn& progress) {
  const Components c = analyse(reader, options, progress);
  Cores(1, options.cancel).check();  // nothing is written once cancelled
  return write(c, output, options, progress);
}

}  // namespace kvtraj::pca

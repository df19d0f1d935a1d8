// kvtraj.compress: the streaming engine of kvt compress on a trajectory or album (in KVT4/6 form,
// or with max_error coded within that error as KVT7), with progress reported to a Python
// callable. The engine runs on threads of its own, without the interpreter lock (its threads may
// emit texts, which take the lock themselves); the callable takes it back, and Ctrl-C cancels the
// engine within a fraction of a second.
#include <pybind11/functional.h>
#include <pybind11/stl.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "frames/frames.hpp"
#include "pca/bounded.hpp"
#include "pca/pca.hpp"
#include "python/src/bindings.hpp"
#include "python/src/input.hpp"
#include "support/fatal.hpp"

namespace py = pybind11;

namespace kvtraj::python {
namespace {

pca::VectorChoice vector_choice(std::optional<std::int32_t> vectors, std::optional<double> quality,
                                std::optional<double> rmsd) {
  if (vectors.has_value() + quality.has_value() + rmsd.has_value() > 1) {
    throw py::value_error("give only one of vectors, quality and rmsd");
  }
  if (vectors) {
    if (*vectors < 0) throw py::value_error("vectors must not be negative");
    return {pca::VectorChoice::count, static_cast<double>(*vectors)};
  }
  if (rmsd) {
    if (!(*rmsd >= 0.0)) throw py::value_error("rmsd must be a distance of 0 Å or more");
    return {pca::VectorChoice::rmsd, *rmsd};
  }
  const double pct = quality.value_or(90.0);
  if (!(pct >= 0.0 && pct <= 100.0)) throw py::value_error("quality must be from 0 to 100");
  return {pca::VectorChoice::quality, pct};
}

pca::Solver solver_of(const std::string& name) {
  const auto solver = pca::solver_from_name(name);
  if (!solver) throw py::value_error("solver must be 'exact', 'randomized' or 'auto'");
  return *solver;
}

py::dict summary_of(const pca::Summary& s, const Input& input) {
  py::dict d;
  d["file_atoms"] = input.plan().file_atoms;
  d["pbc"] = std::string(pbc_name(input.plan().pbc));
  d["natoms"] = s.natoms;
  d["nframes"] = s.frames;
  d["nvecs"] = s.kept;
  d["percent"] = s.percent;
  d["expected_rmsd"] = s.expected_rmsd;
  d["bytes"] = s.bytes;
  d["solver"] = std::string(pca::solver_name(s.solver));
  d["fit_rounds"] = s.fit_rounds;
  d["passes"] = s.passes;
  return d;
}

struct Request {
  InputArgs input;
  std::string output, title, solver, fit_select, ref;
  std::optional<std::string> solvent;
  std::optional<std::int32_t> vectors;
  std::optional<double> quality, rmsd, max_error;
  bool kvt6 = false, fit = true;
  int threads = 2;
  std::int64_t memory_mb = 0;
};

// The fit group and the reference structure, over the stored atoms.
void fit_options(const Request& r, const Input& input, pca::Options& options) {
  if ((!r.fit_select.empty() || !r.ref.empty()) && !r.fit) {
    throw py::value_error("fit_select and ref need fit=True");
  }
  if ((!r.fit_select.empty() || !r.ref.empty()) && !input.plan().topology) {
    throw py::value_error("fit_select and ref need a topology (top=)");
  }
  if (!r.fit_select.empty()) options.fit_weights = fit_weights(input.plan(), r.fit_select);
  if (!r.ref.empty()) options.reference = reference_structure(input.plan(), r.ref);
}

// The error-bounded coding asked for, if any: the maximum error, a fixed vector count, and the
// solvent (the selection given, or by default the topology's water and ions).
std::optional<pca::BoundedOptions> bounded_of(const Request& r, const Input& input) {
  if (!r.max_error) {
    if (r.solvent) throw py::value_error("solvent needs max_error");
    return std::nullopt;
  }
  if (!(*r.max_error > 0.0) || !std::isfinite(*r.max_error)) {
    throw py::value_error("max_error must be a positive distance in Å");
  }
  if (r.quality || r.rmsd || r.kvt6) {
    throw py::value_error("max_error chooses the vectors itself: give no quality, rmsd or kvt6");
  }
  if (r.solvent && !input.plan().topology) throw py::value_error("solvent needs a topology (top=)");
  pca::BoundedOptions b;
  b.max_error = *r.max_error;
  b.vectors = r.vectors;
  for (const AtomRun& run : solvent_runs(input.plan(), r.solvent))
    b.groups.push_back({run.first, run.count});
  return b;
}

void add_bounded(const pca::BoundedSummary& b, py::dict& d) {
  d["max_error"] = b.max_error;
  d["max_deviation"] = b.max_deviation;
  d["blocks"] = b.blocks;
  d["model_blocks"] = b.model_blocks;
}

// Runs `work` on a thread of its own while this thread, the interpreter's main one (the only
// one that sees signals), waits without the lock and looks for a caught signal every 100 ms.
// A signal's exception (KeyboardInterrupt) sets `cancel`, which stops the engine within its
// current range of work; the engine's thread is joined before anything is raised. `raised`
// holds the Python exception that stopped the run (the signal's or the progress callback's) and
// is only touched with the lock held.
void run_watched(const std::function<void()>& work, std::atomic<bool>& cancel,
                 std::optional<py::error_already_set>& raised) {
  std::mutex mutex;
  std::condition_variable ended;
  bool done = false;
  std::exception_ptr error;
  std::thread engine([&] {
    try {
      work();
    } catch (...) {
      error = std::current_exception();
    }
    const std::lock_guard lock(mutex);
    done = true;
    ended.notify_all();
  });
  for (bool finished = false; !finished;) {
    {
      const py::gil_scoped_release unlocked;
      std::unique_lock lock(mutex);
      finished = ended.wait_for(lock, std::chrono::milliseconds(100), [&] { return done; });
    }
    if (!finished && !cancel && PyErr_CheckSignals() != 0) {
      py::error_already_set caught;  // takes the signal's exception from the interpreter
      if (!raised) raised.emplace(std::move(caught));
      cancel = true;
    }
  }
  engine.join();
  // A signal caught after the file was complete is still the user's: it is raised.
  if (raised) throw std::move(*raised);
  if (error) std::rethrow_exception(error);
}

// Calls `progress` with the lock taken; an exception it raises stops the engine (which removes
// what it wrote) and is raised again once it has unwound.
py::dict run(const Request& r,
             const std::function<void(std::string, std::int64_t, std::int64_t)>& progress) {
  pca::Options options;
  options.choice = vector_choice(r.vectors, r.quality, r.rmsd);
  options.solver = solver_of(r.solver);
  options.fit = r.fit;
  options.kvt6 = r.kvt6;
  options.threads = r.threads;
  options.memory_bytes = r.memory_mb << 20;
  const std::unique_ptr<Input> input = open_input(r.input, PbcMode::nojump, true);
  input->source().require_whole();
  fit_options(r, *input, options);
  const std::optional<pca::BoundedOptions> bounded = bounded_of(r, *input);
  options.atoms = input->records();
  options.title = r.title.empty() ? "kvtraj.compress of " + input->name() : r.title;
  InputFrames frames(*input);
  std::atomic<bool> cancel{false};
  options.cancel = &cancel;
  std::optional<py::error_already_set> raised;
  const pca::ProgressFn report = [&](const pca::ProgressEvent& e) {
    if (!progress) return;
    py::gil_scoped_acquire gil;
    try {
      progress(std::string(e.pass), e.done, e.total);
    } catch (py::error_already_set& error) {
      if (!raised) raised.emplace(std::move(error));
      throw FatalError(1, "kvtraj.compress: stopped by the progress callback");
    }
  };
  pca::Summary summary;
  std::optional<pca::BoundedSummary> coded;
  run_watched(
      [&] {
        if (bounded) {
          coded = pca::compress_bounded(frames, r.output, options, *bounded, report);
          summary = coded->summary;
        } else {
          summary = pca::compress(frames, r.output, options, report);
        }
      },
      cancel, raised);
  py::dict d = summary_of(summary, *input);
  if (coded) add_bounded(*coded, d);
  return d;
}

}  // namespace

void bind_compress(py::module_& m) {
  m.def(
      "compress",
      [](const std::string& source, const std::string& output, std::optional<std::int32_t> vectors,
         std::optional<double> quality, std::optional<double> rmsd, bool kvt6, bool fit,
         const std::string& solver, std::optional<std::int32_t> natoms, bool album,
         const std::string& title, int threads, std::int64_t memory_mb,
         const std::function<void(std::string, std::int64_t, std::int64_t)>& progress,
         const std::string& top, const std::string& index, const std::string& select,
         std::optional<std::string> pbc, const std::string& fit_select, const std::string& ref,
         std::optional<double> max_error, std::optional<std::string> solvent) {
        if (threads < 1) throw py::value_error("threads must be 1 or more");
        if (memory_mb < 0) throw py::value_error("memory must not be negative");
        // MB to bytes must stay within 64 bits.
        if (memory_mb > (INT64_MAX >> 20)) throw py::value_error("memory is too large");
        Request r;
        r.input = InputArgs{source, natoms, album, top, index, select, std::move(pbc)};
        r.output = output;
        r.title = title;
        r.solver = solver;
        r.fit_select = fit_select;
        r.ref = ref;
        r.vectors = vectors;
        r.quality = quality;
        r.rmsd = rmsd;
        r.max_error = max_error;
        r.solvent = std::move(solvent);
        r.kvt6 = kvt6;
        r.fit = fit;
        r.threads = threads;
        r.memory_mb = memory_mb;
        return run(r, progress);
      },
      py::arg("source"), py::arg("output"), py::arg("vectors") = py::none(),
      py::arg("quality") = py::none(), py::arg("rmsd") = py::none(), py::arg("kvt6") = false,
      py::arg("fit") = true, py::arg("solver") = "auto", py::arg("natoms") = py::none(),
      py::arg("album") = false, py::arg("title") = "", py::arg("threads") = 2,
      py::arg("memory") = 0, py::arg("progress") = py::none(), py::arg("top") = "",
      py::arg("index") = "", py::arg("select") = "", py::arg("pbc") = py::none(),
      py::arg("fit_select") = "", py::arg("ref") = "", py::arg("max_error") = py::none(),
      py::arg("solvent") = py::none());
}

}  // namespace kvtraj::python

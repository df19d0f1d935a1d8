// kvtraj.compress: the streaming engine of kvt compress on a trajectory or album, with progress
// reported to a Python callable. The engine runs without the interpreter lock (its reader
// thread may emit texts, which take the lock themselves); the callable takes it back.
#include <pybind11/functional.h>
#include <pybind11/stl.h>

#include <cstdint>
#include <optional>
#include <string>

#include "pca/pca.hpp"
#include "python/src/bindings.hpp"
#include "python/src/source.hpp"
#include "support/fatal.hpp"

namespace py = pybind11;

namespace kvtraj::python {
namespace {

// The engine's view of a Source. Text formats, albums and strided selections decode slowly and
// are copied once to a temporary file by the engine; other files are opened once more for every
// further thread, which then reads its own part of the frames.
class SourceFrames final : public pca::FrameReader {
 public:
  explicit SourceFrames(Source& source) : source_(source) {}
  explicit SourceFrames(std::unique_ptr<Source> owned)
      : owned_(std::move(owned)), source_(*owned_) {}
  std::int32_t natoms() const override { return source_.natoms(); }
  std::int64_t frames() const override { return source_.nframes(); }
  std::string name() const override { return source_.name(); }
  void read(std::int64_t first, std::int64_t count, std::span<float> out) override {
    const auto n = 3 * static_cast<std::size_t>(source_.natoms());
    float box[6] = {};
    for (std::int64_t f = 0; f < count; ++f) {
      source_.read(static_cast<std::int32_t>(first + f + 1), out.data() + f * n, box);
    }
  }
  bool slow() const override {
    return pca::slow_to_decode(name(), source_.type_code(), source_.is_album());
  }
  std::string fingerprint() const override {
    return source_.is_album() ? std::string() : pca::file_fingerprint(name());
  }
  std::unique_ptr<pca::FrameReader> another() const override {
    if (slow()) return nullptr;
    return std::make_unique<SourceFrames>(std::make_unique<Source>(name(), natoms(), false));
  }

 private:
  std::unique_ptr<Source> owned_;
  Source& source_;
};

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

py::dict summary_of(const pca::Summary& s) {
  py::dict d;
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
  std::string source, output, title, solver;
  std::optional<std::int32_t> natoms, vectors;
  std::optional<double> quality, rmsd;
  bool album = false, kvt6 = false, fit = true;
  int threads = 2;
  std::int64_t memory_mb = 0;
};

// Calls `progress` with the lock taken; an exception it raises stops the engine (which removes
// what it wrote) and is raised again once the engine has unwound.
py::dict run(const Request& r,
             const std::function<void(std::string, std::int64_t, std::int64_t)>& progress) {
  pca::Options options;
  options.choice = vector_choice(r.vectors, r.quality, r.rmsd);
  options.solver = solver_of(r.solver);
  options.fit = r.fit;
  options.kvt6 = r.kvt6;
  options.threads = r.threads;
  options.memory_bytes = r.memory_mb << 20;
  Source source(r.source, r.natoms, r.album);
  options.title = r.title.empty() ? "kvtraj.compress of " + source.name() : r.title;
  SourceFrames frames(source);
  std::optional<py::error_already_set> raised;
  pca::ProgressFn report;
  if (progress) {
    report = [&](const pca::ProgressEvent& e) {
      py::gil_scoped_acquire gil;
      try {
        progress(std::string(e.pass), e.done, e.total);
      } catch (py::error_already_set& error) {
        raised.emplace(std::move(error));
        throw FatalError(1, "kvtraj.compress: stopped by the progress callback");
      }
    };
  }
  pca::Summary summary;
  try {
    py::gil_scoped_release unlocked;
    summary = pca::compress(frames, r.output, options, report);
  } catch (const FatalError&) {
    if (raised) throw std::move(*raised);
    throw;
  }
  return summary_of(summary);
}

}  // namespace

void bind_compress(py::module_& m) {
  m.def(
      "compress",
      [](const std::string& source, const std::string& output, std::optional<std::int32_t> vectors,
         std::optional<double> quality, std::optional<double> rmsd, bool kvt6, bool fit,
         const std::string& solver, std::optional<std::int32_t> natoms, bool album,
         const std::string& title, int threads, std::int64_t memory_mb,
         const std::function<void(std::string, std::int64_t, std::int64_t)>& progress) {
        if (threads < 1) throw py::value_error("threads must be 1 or more");
        if (memory_mb < 0) throw py::value_error("memory must not be negative");
        // MB to bytes must stay within 64 bits.
        if (memory_mb > (INT64_MAX >> 20)) throw py::value_error("memory is too large");
        return run(Request{source, output, title, solver, natoms, vectors, quality, rmsd, album,
                           kvt6, fit, threads, memory_mb},
                   progress);
      },
      py::arg("source"), py::arg("output"), py::arg("vectors") = py::none(),
      py::arg("quality") = py::none(), py::arg("rmsd") = py::none(), py::arg("kvt6") = false,
      py::arg("fit") = true, py::arg("solver") = "auto", py::arg("natoms") = py::none(),
      py::arg("album") = false, py::arg("title") = "", py::arg("threads") = 2,
      py::arg("memory") = 0, py::arg("progress") = py::none());
}

}  // namespace kvtraj::python

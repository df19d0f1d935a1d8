// The analyses of a stored PCA seen from Python: projections of a trajectory (through the same
// inputs as kvtraj.read) or of frames in a numpy array, cosine content, RMSF, and the comparison
// of two sets of vectors. Projections run without the interpreter lock.
#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>

#include "analysis/analysis.hpp"
#include "python/src/bindings.hpp"
#include "python/src/input.hpp"

namespace py = pybind11;

namespace kvtraj::python {
namespace {

using FloatArray = py::array_t<float, py::array::c_style | py::array::forcecast>;

// Frames (F, N, 3) held by a numpy array, read by the engine's threads; the array stays alive
// and unchanged while the projection runs (the caller holds it).
class ArrayFrames final : public pca::FrameReader {
 public:
  explicit ArrayFrames(const FloatArray& frames)
      : data_(frames.data()),
        frames_(frames.shape(0)),
        natoms_(static_cast<std::int32_t>(frames.shape(1))) {}
  std::int32_t natoms() const override { return natoms_; }
  std::int64_t frames() const override { return frames_; }
  std::string name() const override { return "the array"; }
  void read(std::int64_t first, std::int64_t count, std::span<float> out) override {
    const std::int64_t n = 3 * static_cast<std::int64_t>(natoms_);
    std::copy_n(data_ + first * n, count * n, out.begin());
  }
  std::unique_ptr<pca::FrameReader> another() const override {
    return std::make_unique<ArrayFrames>(*this);
  }

 private:
  const float* data_;
  std::int64_t frames_;
  std::int32_t natoms_;
};

// The projections (F, K) as a new C-ordered array.
py::array_t<float> as_array(const analysis::Projections& p) {
  const auto k = static_cast<py::ssize_t>(p.vectors.count());
  py::array_t<float> out({static_cast<py::ssize_t>(p.frames), k});
  float* dst = out.mutable_data();
  for (std::int64_t i = 0; i < p.frames; ++i) {
    for (py::ssize_t j = 0; j < k; ++j) {
      dst[i * k + j] = p.values[static_cast<std::size_t>(i + p.frames * j)];
    }
  }
  return out;
}

analysis::Projections projected(pca::FrameReader& frames, const kvtfile& k,
                                analysis::VectorSpan span, int threads, bool fit) {
  if (threads < 1) throw py::value_error("threads must be 1 or more");
  py::gil_scoped_release unlocked;
  return analysis::project(frames, k, span, threads, fit);
}

// Vectors given as (K, N, 3) or (K, 3N): the count and the length of each.
std::pair<std::int32_t, std::size_t> vector_shape(const FloatArray& v) {
  if (v.ndim() < 2 || v.ndim() > 3 || (v.ndim() == 3 && v.shape(2) != 3) || v.shape(0) < 1) {
    throw py::value_error("vectors must be an array of shape (K, N, 3) or (K, 3N), K >= 1");
  }
  return {static_cast<std::int32_t>(v.shape(0)), static_cast<std::size_t>(v.size() / v.shape(0))};
}

std::span<const float> all_of(const FloatArray& v) {
  return {v.data(), static_cast<std::size_t>(v.size())};
}

void bind_projections(py::module_& m) {
  m.def(
      "project_source",
      [](const kvtfile& k, const std::string& source, std::int32_t first, std::int32_t last,
         int threads, bool fit, std::optional<std::int32_t> natoms, bool album,
         const std::string& top, const std::string& index, const std::string& select,
         std::optional<std::string> pbc) {
        const analysis::VectorSpan span = analysis::checked_span(k, first, last);
        const InputArgs args{source, natoms, album, top, index, select, std::move(pbc)};
        const std::unique_ptr<Input> input = open_input(args, PbcMode::nojump, true);
        input->source().require_whole();
        analysis::check_atom_names(input->records(), k.atoms, input->name(), k.filename);
        InputFrames frames(*input);
        return as_array(projected(frames, k, span, threads, fit));
      },
      py::arg("kvt"), py::arg("source"), py::arg("first"), py::arg("last"), py::arg("threads"),
      py::arg("fit"), KVTRAJ_INPUT_ARGS);
  m.def(
      "project_array",
      [](const kvtfile& k, const FloatArray& frames, std::int32_t first, std::int32_t last,
         int threads, bool fit) {
        if (frames.ndim() != 3 || frames.shape(2) != 3) {
          throw py::value_error("frames must be an array of shape (F, N, 3)");
        }
        const analysis::VectorSpan span = analysis::checked_span(k, first, last);
        ArrayFrames reader(frames);
        return as_array(projected(reader, k, span, threads, fit));
      },
      py::arg("kvt"), py::arg("frames"), py::arg("first"), py::arg("last"), py::arg("threads"),
      py::arg("fit"));
}

void bind_comparisons(py::module_& m) {
  m.def("cosine_content", [](const kvtfile& k, std::int32_t vector) {
    analysis::checked_span(k, vector, vector);
    return analysis::cosine_content(kvtproj(k, vector), vector);
  });
  m.def("rmsf", [](const kvtfile& k) {
    const std::vector<float> r = analysis::rmsf(k);
    return py::array_t<float>(static_cast<py::ssize_t>(r.size()), r.data());
  });
  m.def("overlap", [](const FloatArray& a, const FloatArray& b) {
    const auto [ka, na] = vector_shape(a);
    const auto [kb, nb] = vector_shape(b);
    if (na != nb) throw py::value_error("the two sets of vectors differ in length");
    const std::vector<double> o = analysis::overlap_matrix(all_of(a), ka, all_of(b), kb, na);
    py::array_t<double> out({static_cast<py::ssize_t>(ka), static_cast<py::ssize_t>(kb)});
    for (std::int32_t i = 0; i < ka; ++i) {
      for (std::int32_t j = 0; j < kb; ++j) {
        out.mutable_at(i, j) = o[i + static_cast<std::size_t>(ka) * j];
      }
    }
    return out;
  });
  m.def("rmsip", [](const FloatArray& a, const FloatArray& b, std::int32_t k) {
    const auto [ka, na] = vector_shape(a);
    const auto [kb, nb] = vector_shape(b);
    if (na != nb) throw py::value_error("the two sets of vectors differ in length");
    if (k < 1 || k > std::min(ka, kb)) {
      throw py::value_error("k must be from 1 to " + std::to_string(std::min(ka, kb)));
    }
    return analysis::rmsip(all_of(a), k, all_of(b), k, na);
  });
}

}  // namespace

void bind_analysis(py::module_& m) {
  bind_projections(m);
  bind_comparisons(m);
}

}  // namespace kvtraj::python

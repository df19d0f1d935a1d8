// Trajectories and albums read through the frames module: whole into one array, or frame by
// frame; with a topology, the selected atoms with their periodic images repaired.
#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <optional>
#include <string>

#include "python/src/bindings.hpp"
#include "python/src/input.hpp"
#include "support/fatal.hpp"
#include "support/sizes.hpp"

namespace py = pybind11;

namespace kvtraj::python {
namespace {

// The cell of the snapshot last read as a, b, c (Å), alpha, beta, gamma (degrees); zeros when
// the frames carry none.
void cell_into(const Input& input, float* out) {
  if (!input.has_box()) {
    std::fill_n(out, 6, 0.0f);
    return;
  }
  const UnitCell c = input.cell();
  const float values[6] = {c.a, c.b, c.c, c.alpha, c.beta, c.gamma};
  std::copy_n(values, 6, out);
}

// (F, N, 3) coordinates and (F, 6) cells of every selected snapshot.
py::tuple read_all(const InputArgs& args) {
  const std::unique_ptr<Input> input = open_input(args, PbcMode::none, false);
  const std::int64_t frames = input->count(), n = input->natoms();
  const auto per_frame = checked_mul(n, 3);
  if (!per_frame || !checked_mul(frames, static_cast<std::int64_t>(*per_frame))) {
    die(input->name() + ": too many coordinates to hold in memory");
  }
  py::array_t<float> coords({frames, n, std::int64_t{3}});
  py::array_t<float> boxes({frames, std::int64_t{6}});
  float* c = coords.mutable_data();
  float* b = boxes.mutable_data();
  for (std::int64_t i = 0; i < frames; ++i) {
    input->read(static_cast<std::int32_t>(i + 1),
                std::span<float>(c + i * static_cast<std::int64_t>(*per_frame),
                                 static_cast<std::size_t>(*per_frame)));
    cell_into(*input, b + 6 * i);
  }
  return py::make_tuple(coords, boxes);
}

// Streams the snapshots as new (N, 3) arrays; `box` holds the cell of the last one delivered.
class FrameStream {
 public:
  explicit FrameStream(const InputArgs& args)
      : input_(open_input(args, PbcMode::none, false)),
        count_(input_->count()),
        natoms_(input_->natoms()) {}

  py::array_t<float> next() {
    if (!input_ || next_ > input_->count()) throw py::stop_iteration();
    py::array_t<float> coords({py::ssize_t{input_->natoms()}, py::ssize_t{3}});
    input_->read(next_,
                 std::span<float>(coords.mutable_data(), static_cast<std::size_t>(coords.size())));
    cell_into(*input_, box_.mutable_data());
    ++next_;
    return coords;
  }
  // Releases the reader at once; the stream is then at its end.
  void close() { input_.reset(); }
  std::int32_t count() const { return count_; }
  std::int32_t natoms() const { return natoms_; }
  py::array_t<float> box() const { return py::array_t<float>(6, box_.data()); }

 private:
  std::unique_ptr<Input> input_;
  std::int32_t count_ = 0, natoms_ = 0;
  std::int32_t next_ = 1;
  py::array_t<float> box_{py::ssize_t{6}};
};

}  // namespace

void bind_trajectories(py::module_& m) {
  m.def(
      "read",
      [](const std::string& name, std::optional<std::int32_t> natoms, bool album,
         const std::string& top, const std::string& index, const std::string& select,
         std::optional<std::string> pbc) {
        return read_all(InputArgs{name, natoms, album, top, index, select, std::move(pbc)});
      },
      py::arg("name"), KVTRAJ_INPUT_ARGS);
  py::class_<FrameStream>(m, "FrameStream")
      .def(py::init([](const std::string& name, std::optional<std::int32_t> natoms, bool album,
                       const std::string& top, const std::string& index, const std::string& select,
                       std::optional<std::string> pbc) {
             return new FrameStream(
                 InputArgs{name, natoms, album, top, index, select, std::move(pbc)});
           }),
           py::arg("name"), KVTRAJ_INPUT_ARGS)
      .def("__iter__", [](py::object self) { return self; })
      .def("__next__", &FrameStream::next)
      .def("__len__", &FrameStream::count)
      .def_property_readonly("natoms", &FrameStream::natoms)
      .def_property_readonly("box", &FrameStream::box)
      .def("close", &FrameStream::close)
      .def("__enter__", [](py::object self) { return self; })
      .def("__exit__", [](FrameStream& s, const py::args&) { s.close(); });
}

}  // namespace kvtraj::python

// Trajectories and albums read through trajsrc: whole into one array, or frame by frame.
#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <optional>
#include <string>

#include "python/src/bindings.hpp"
#include "python/src/source.hpp"
#include "support/fatal.hpp"
#include "support/sizes.hpp"

namespace py = pybind11;

namespace kvtraj::python {
namespace {

// (F, N, 3) coordinates and (F, 6) boxes of every selected snapshot.
py::tuple read_all(const std::string& name, std::optional<std::int32_t> natoms, bool is_album) {
  Source src(name, natoms, is_album);
  const std::int64_t frames = src.nframes(), n = src.natoms();
  const auto per_frame = checked_mul(n, 3);
  if (!per_frame || !checked_mul(frames, static_cast<std::int64_t>(*per_frame))) {
    die(src.name() + ": too many coordinates to hold in memory");
  }
  py::array_t<float> coords({frames, n, std::int64_t{3}});
  py::array_t<float> boxes({frames, std::int64_t{6}});
  float* c = coords.mutable_data();
  float* b = boxes.mutable_data();
  for (std::int64_t i = 0; i < frames; ++i) {
    src.read(static_cast<std::int32_t>(i + 1), c + i * static_cast<std::int64_t>(*per_frame),
             b + 6 * i);
  }
  return py::make_tuple(coords, boxes);
}

// Streams the snapshots as new (N, 3) arrays; `box` holds the box of the last one delivered.
class FrameStream {
 public:
  FrameStream(const std::string& name, std::optional<std::int32_t> natoms, bool is_album)
      : src_(name, natoms, is_album) {}

  py::array_t<float> next() {
    if (next_ > src_.nframes()) throw py::stop_iteration();
    py::array_t<float> coords({py::ssize_t{src_.natoms()}, py::ssize_t{3}});
    src_.read(next_, coords.mutable_data(), box_.mutable_data());
    ++next_;
    return coords;
  }
  void close() {
    src_.close();
    next_ = src_.nframes() + 1;
  }
  Source& source() { return src_; }
  py::array_t<float> box() const { return py::array_t<float>(6, box_.data()); }

 private:
  Source src_;
  std::int32_t next_ = 1;
  py::array_t<float> box_{py::ssize_t{6}};
};

}  // namespace

void bind_trajectories(py::module_& m) {
  m.def("read", &read_all, py::arg("name"), py::arg("natoms") = py::none(),
        py::arg("album") = false);
  py::class_<FrameStream>(m, "FrameStream")
      .def(py::init<const std::string&, std::optional<std::int32_t>, bool>(), py::arg("name"),
           py::arg("natoms") = py::none(), py::arg("album") = false)
      .def("__iter__", [](py::object self) { return self; })
      .def("__next__", &FrameStream::next)
      .def("__len__", [](FrameStream& s) { return s.source().nframes(); })
      .def_property_readonly("natoms", [](FrameStream& s) { return s.source().natoms(); })
      .def_property_readonly("box", &FrameStream::box)
      .def("close", &FrameStream::close)
      .def("__enter__", [](py::object self) { return self; })
      .def("__exit__", [](FrameStream& s, const py::args&) { s.close(); });
}

}  // namespace kvtraj::python

// The frames of a KVT7 file as coded (within the file's maximum error), for kvtraj.open: a
// reader that keeps the handle it decodes from alive and holds its last decoded block.
#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <memory>

#include "kvt_io/kvt_io.hpp"
#include "python/src/bindings.hpp"

namespace py = pybind11;

namespace kvtraj::python {
namespace {

class CodedFrames {
 public:
  explicit CodedFrames(py::object owner)
      : owner_(std::move(owner)), frames_(owner_.cast<const kvtfile&>()) {}
  double max_error() const { return frames_.max_error(); }
  // Frames (1-based) into a new (F', N, 3) array.
  py::array_t<float> read(const std::vector<std::int32_t>& frames) {
    const auto& k = owner_.cast<const kvtfile&>();
    const auto n = static_cast<py::ssize_t>(3) * k.natoms;
    py::array_t<float> out({static_cast<py::ssize_t>(frames.size()),
                            static_cast<py::ssize_t>(k.natoms), py::ssize_t{3}});
    float* dst = out.mutable_data();
    for (std::size_t f = 0; f < frames.size(); ++f) {
      frames_.read(frames[f], std::span<float>(dst + static_cast<py::ssize_t>(f) * n, n));
    }
    return out;
  }
  void read_into(std::int32_t frame, py::array_t<float, py::array::c_style> out) {
    const auto& k = owner_.cast<const kvtfile&>();
    if (out.size() != 3 * static_cast<py::ssize_t>(k.natoms) || !out.writeable()) {
      throw py::value_error("read_into needs a writeable float32 array of natoms x 3");
    }
    frames_.read(frame, std::span<float>(out.mutable_data(), static_cast<std::size_t>(out.size())));
  }

 private:
  py::object owner_;  // the KvtFile, alive while this reader is
  kvtframes frames_;
};

}  // namespace

void bind_bounded(py::module_& m) {
  py::class_<CodedFrames>(m, "CodedFrames")
      .def_property_readonly("max_error", &CodedFrames::max_error)
      .def("read", &CodedFrames::read, py::arg("frames"))
      .def("read_into", &CodedFrames::read_into, py::arg("frame"), py::arg("out").noconvert());
  m.def(
      "coded_frames", [](py::object kvt) { return std::make_unique<CodedFrames>(std::move(kvt)); },
      py::arg("kvt"));
}

}  // namespace kvtraj::python

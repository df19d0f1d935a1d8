// A KVT file read whole (`kvtopen`) and its queries. The handle's arrays are handed to numpy as
// read-only views whose base is the Python handle, so they keep it alive and copy nothing.
#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <optional>
#include <string>
#include <vector>

#include "kvt_io/kvt_io.hpp"
#include "python/src/bindings.hpp"
#include "support/fatal.hpp"

namespace py = pybind11;

namespace kvtraj::python {
namespace {

using FloatArray = py::array_t<float, py::array::c_style | py::array::forcecast>;

// A read-only float32 view of `data` owned by `owner`. Writing through it would change what
// the queries answer behind their back, so numpy refuses it.
py::array view(const py::object& owner, const std::vector<float>& data,
               std::vector<py::ssize_t> shape, std::vector<py::ssize_t> strides) {
  py::array a(py::dtype::of<float>(), std::move(shape), std::move(strides), data.data(), owner);
  a.attr("setflags")(py::arg("write") = false);
  return a;
}

py::array_t<float> to_array(const std::vector<float>& values) {
  return py::array_t<float>(static_cast<py::ssize_t>(values.size()), values.data());
}

py::ssize_t atoms(const kvtfile& k) {
  return k.natoms;
}

kvtfile open_whole(const std::string& path) {
  kvtfile k = kvtopen(0, path);
  // A file cut inside its vectors opens with zeros where the missing vectors should be.
  if (k.status != 0) die(k.filename + ": the KVT file is incomplete or unreadable");
  return k;
}

// Snapshots `frames` (1-based) rebuilt from vectors first..last into a new (F', N, 3) array.
py::array_t<float> snapshots(const kvtfile& k, const std::vector<std::int32_t>& frames,
                             std::optional<std::int32_t> first, std::optional<std::int32_t> last) {
  const auto n = static_cast<py::ssize_t>(k.avg.size());
  py::array_t<float> out({static_cast<py::ssize_t>(frames.size()), atoms(k), py::ssize_t{3}});
  float* dst = out.mutable_data();
  for (std::size_t f = 0; f < frames.size(); ++f) {
    kvtsnap(k, frames[f], std::span<float>(dst + static_cast<py::ssize_t>(f) * n, n), first, last);
  }
  return out;
}

void bind_views(py::class_<kvtfile>& c) {
  c.def_property_readonly("average", [](const py::object& self) {
    const auto& k = self.cast<const kvtfile&>();
    return view(self, k.avg, {atoms(k), 3}, {12, 4});
  });
  c.def_property_readonly("eigenvalues", [](const py::object& self) {
    const auto& k = self.cast<const kvtfile&>();
    return view(self, k.evals, {k.nvecs}, {4});
  });
  c.def_property_readonly("eigenvectors", [](const py::object& self) {
    const auto& k = self.cast<const kvtfile&>();
    return view(self, k.evecs, {k.nvecs, atoms(k), 3}, {12 * atoms(k), 12, 4});
  });
  c.def_property_readonly("projections", [](const py::object& self) {
    const auto& k = self.cast<const kvtfile&>();
    return view(self, k.proj, {k.nframes, k.nvecs}, {4, 4 * static_cast<py::ssize_t>(k.nframes)});
  });
}

// The atom records as columns (numbers, names, residue numbers, residue names, chains); None
// when the file holds none.
py::object atom_records(const kvtfile& k) {
  if (k.atoms.empty()) return py::none();
  std::vector<std::int32_t> numbers, resnums;
  std::vector<std::string> names, resnames, chains;
  for (const AtomRecord& a : k.atoms) {
    numbers.push_back(a.number);
    names.push_back(a.name);
    resnums.push_back(a.resnum);
    resnames.push_back(a.resname);
    chains.push_back(a.chain);
  }
  const auto ints = [](const std::vector<std::int32_t>& v) {
    return py::array_t<std::int32_t>(static_cast<py::ssize_t>(v.size()), v.data());
  };
  return py::make_tuple(ints(numbers), names, ints(resnums), resnames, chains);
}

void bind_queries(py::class_<kvtfile>& c) {
  c.def("snapshots", &snapshots, py::arg("frames"), py::arg("first") = py::none(),
        py::arg("last") = py::none());
  c.def(
      "snapshot_into",
      [](const kvtfile& k, std::int32_t frame, FloatArray out, std::optional<std::int32_t> first,
         std::optional<std::int32_t> last) {
        if (out.size() != static_cast<py::ssize_t>(k.avg.size()) || !out.writeable()) {
          throw py::value_error("snapshot_into needs a writeable float32 array of natoms x 3");
        }
        kvtsnap(k, frame, std::span<float>(out.mutable_data(), k.avg.size()), first, last);
      },
      py::arg("frame"), py::arg("out").noconvert(), py::arg("first") = py::none(),
      py::arg("last") = py::none());
  c.def("scores", [](const kvtfile& k, std::int32_t i) { return to_array(kvtscores(k, i)); });
  c.def("mahalanobis", [](const kvtfile& k, std::int32_t nv) { return to_array(kvtmaha(k, nv)); });
  c.def("fluctuation", [](const kvtfile& k, std::int32_t v) { return to_array(kvtfluc(k, v)); });
}

}  // namespace

void bind_kvt_file(py::module_& m) {
  py::class_<kvtfile> c(m, "KvtFile");
  c.def_readonly("filename", &kvtfile::filename)
      .def_readonly("title", &kvtfile::title)
      .def_readonly("magic", &kvtfile::magic)
      .def_readonly("natoms", &kvtfile::natoms)
      .def_readonly("nframes", &kvtfile::nframes)
      .def_readonly("nvecs", &kvtfile::nvecs)
      .def_readonly("quality", &kvtfile::quality);
  c.def_property_readonly("atoms", &atom_records);
  bind_views(c);
  bind_queries(c);
  m.def("kvtopen", &open_whole, py::arg("path"));
}

}  // namespace kvtraj::python

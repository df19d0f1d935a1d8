// kvtraj.Topology: a topology file read by the topology module, its atoms as arrays, and
// selections in the language of kvt --select.
#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <optional>
#include <string>

#include "python/src/bindings.hpp"
#include "topology/selection.hpp"
#include "topology/topology.hpp"

namespace py = pybind11;

namespace kvtraj::python {
namespace {

// A topology with the index groups its selections may name.
struct TopologyHandle {
  Topology top;
  IndexGroups groups;
};

template <class T>
py::array_t<T> array_of(const std::vector<T>& values) {
  return py::array_t<T>(static_cast<py::ssize_t>(values.size()), values.data());
}

// A text column as its distinct values and each atom's index into them; the Python layer makes
// the per-atom array of them.
py::tuple column(const TextColumn& c) {
  return py::make_tuple(c.values(), array_of(c.indices()));
}

py::object cell_of(const Topology& t) {
  if (!t.cell) return py::none();
  const UnitCell& c = *t.cell;
  const std::vector<float> v = {c.a, c.b, c.c, c.alpha, c.beta, c.gamma};
  return array_of(v);
}

py::array_t<std::int32_t> bonds_of(const Topology& t) {
  py::array_t<std::int32_t> out({static_cast<py::ssize_t>(t.bonds.size()), py::ssize_t{2}});
  std::int32_t* to = out.mutable_data();
  for (const auto& b : t.bonds) {
    *to++ = b[0];
    *to++ = b[1];
  }
  return out;
}

}  // namespace

void bind_topology(py::module_& m) {
  py::class_<TopologyHandle>(m, "TopologyFile")
      .def(py::init([](const std::string& path, const std::string& index) {
             auto h = std::make_unique<TopologyHandle>();
             h->top = read_topology(path);
             if (!index.empty()) h->groups = read_index_groups(index, h->top.natoms());
             return h;
           }),
           py::arg("path"), py::arg("index") = "")
      .def_property_readonly("natoms", [](const TopologyHandle& h) { return h.top.natoms(); })
      .def_property_readonly("format", [](const TopologyHandle& h) { return h.top.format; })
      .def("column",
           [](const TopologyHandle& h, const std::string& name) {
             const Topology& t = h.top;
             const TextColumn* columns[] = {&t.names,    &t.types,  &t.elements,
                                            &t.resnames, &t.chains, &t.segids};
             const char* names[] = {"names", "types", "elements", "resnames", "chains", "segids"};
             for (std::size_t i = 0; i < std::size(names); ++i) {
               if (name == names[i]) return column(*columns[i]);
             }
             throw py::key_error(name);
           })
      .def_property_readonly("masses",
                             [](const TopologyHandle& h) { return array_of(h.top.masses); })
      .def_property_readonly("charges",
                             [](const TopologyHandle& h) -> py::object {
                               if (h.top.charges.empty()) return py::none();
                               return array_of(h.top.charges);
                             })
      .def_property_readonly("resids",
                             [](const TopologyHandle& h) { return array_of(h.top.resids); })
      .def_property_readonly("icodes",
                             [](const TopologyHandle& h) {
                               return std::string(h.top.icodes.begin(), h.top.icodes.end());
                             })
      .def_property_readonly("bonds", [](const TopologyHandle& h) { return bonds_of(h.top); })
      .def_property_readonly("has_bonds", [](const TopologyHandle& h) { return h.top.has_bonds; })
      .def_property_readonly("coordinates",
                             [](const TopologyHandle& h) -> py::object {
                               if (h.top.coordinates.empty()) return py::none();
                               return array_of(h.top.coordinates);
                             })
      .def_property_readonly("cell", [](const TopologyHandle& h) { return cell_of(h.top); })
      .def("select", [](const TopologyHandle& h, const std::string& text) {
        return array_of(select_atoms(h.top, text, &h.groups));
      });
}

}  // namespace kvtraj::python

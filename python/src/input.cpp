#include "python/src/input.hpp"

namespace py = pybind11;

namespace kvtraj::python {

std::unique_ptr<Input> open_input(const InputArgs& args, PbcMode default_pbc,
                                  bool default_needs_cells) {
  InputOptions o;
  o.trajectory = args.name;
  o.album = args.album;
  o.natoms = args.natoms.value_or(0);
  if (o.natoms < 0) throw py::value_error("natoms must not be negative");
  o.topology = args.top;
  o.index = args.index;
  o.select = args.select;
  if (!o.select.empty() && o.topology.empty())
    throw py::value_error("select needs a topology (top=)");
  if (!o.index.empty() && o.topology.empty())
    throw py::value_error("index needs a topology (top=)");
  if (args.pbc) {
    o.pbc = pbc_from_name(*args.pbc);
    if (!o.pbc) throw py::value_error("pbc must be 'none', 'whole' or 'nojump'");
  }
  o.default_pbc = default_pbc;
  o.default_needs_cells = default_needs_cells;
  return Input::open(o);
}

}  // namespace kvtraj::python

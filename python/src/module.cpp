// kvtraj._core: the C++ modules seen from Python. Indices passed here count from 1, as in the
// modules; the pure-Python layer above turns Python's indices into them.
#include "python/src/bindings.hpp"

PYBIND11_MODULE(_core, m) {
  m.doc() = "kvtraj C++ modules (use the kvtraj package rather than this module)";
  kvtraj::python::bind_host(m);
  kvtraj::python::bind_kvt_file(m);
  kvtraj::python::bind_bounded(m);
  kvtraj::python::bind_trajectories(m);
  kvtraj::python::bind_compress(m);
  kvtraj::python::bind_topology(m);
}

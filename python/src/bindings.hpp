// The pieces of the `kvtraj._core` extension: the host setup (errors, messages), the KVT file
// handle with its no-copy array views, and the trajectory readers.
#pragma once

#include <pybind11/pybind11.h>

namespace kvtraj::python {

// Makes fatal conditions raise `kvtraj.Error` and routes the modules' texts to sys.stderr only
// after set_verbose(True).
void bind_host(pybind11::module_& m);
void bind_kvt_file(pybind11::module_& m);
void bind_trajectories(pybind11::module_& m);
void bind_compress(pybind11::module_& m);
void bind_topology(pybind11::module_& m);
// KVT7 frames as coded, within the file's maximum error.
void bind_bounded(pybind11::module_& m);

}  // namespace kvtraj::python

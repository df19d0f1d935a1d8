// Inside the extension: the input of kvtraj.read, kvtraj.frames and kvtraj.compress as the
// keyword arguments give it (a trajectory or album; a topology, index groups, a selection and a
// repair of periodic images), opened through the frames module like the kvt program's.
#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "frames/frames.hpp"

namespace kvtraj::python {

struct InputArgs {
  std::string name;
  std::optional<std::int32_t> natoms;
  bool album = false;
  std::string top, index, select;
  std::optional<std::string> pbc;
};

// Opens the input; `default_pbc` holds when pbc is not given (for compression, only with a
// topology and frames that carry cells). Bad arguments raise ValueError.
std::unique_ptr<Input> open_input(const InputArgs& args, PbcMode default_pbc,
                                  bool default_needs_cells);

// The keyword arguments of InputArgs after `name`, for the bindings' signatures.
#define KVTRAJ_INPUT_ARGS                                                               \
  pybind11::arg("natoms") = pybind11::none(), pybind11::arg("album") = false,           \
  pybind11::arg("top") = "", pybind11::arg("index") = "", pybind11::arg("select") = "", \
  pybind11::arg("pbc") = pybind11::none()

}  // namespace kvtraj::python

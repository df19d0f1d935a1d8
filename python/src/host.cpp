// The extension as host of the modules: `die` throws instead of ending the interpreter, and the
// modules' own texts are dropped unless the user asked for them.
#include <algorithm>
#include <atomic>
#include <exception>
#include <string>

#include "python/src/bindings.hpp"
#include "support/fatal.hpp"
#include "support/messages.hpp"

namespace py = pybind11;

namespace kvtraj::python {
namespace {

std::atomic<bool> verbose{false};

// Informational texts and warnings go to sys.stderr so that standard output stays the
// notebook's; the line before a fatal condition is the exception's message instead.
void write_to_python(const Message& message) {
  if (!verbose.load() || message.kind == MessageKind::fatal) return;
  py::gil_scoped_acquire gil;
  try {
    py::module_::import("sys").attr("stderr").attr("write")(std::string(message.text) + "\n");
  } catch (const py::error_already_set&) {
    // No usable sys.stderr (closed, or None under pythonw): a lost message must not fail the
    // read that sent it.
  }
}

}  // namespace

void bind_host(py::module_& m) {
  set_fatal_action(throw_fatal_error);
  set_message_sink(write_to_python);
  // The modules' lines keep their file-format indentation (" run.kvt: no such file?").
  static py::exception<FatalError> error(m, "Error", PyExc_RuntimeError);
  py::register_exception_translator([](std::exception_ptr thrown) {
    try {
      if (thrown) std::rethrow_exception(thrown);
    } catch (const FatalError& e) {
      const std::string_view text = e.what();
      error(std::string(text.substr(std::min(text.find_first_not_of(' '), text.size()))).c_str());
    }
  });
  m.def(
      "set_verbose", [](bool on) { verbose = on; }, py::arg("on"),
      "Show the modules' informational texts and warnings on sys.stderr.");
  m.def("verbose", [] { return verbose.load(); });
}

}  // namespace kvtraj::python

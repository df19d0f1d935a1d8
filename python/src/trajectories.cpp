// Trajectories and albums read through trajsrc: whole into one array, or frame by frame.
#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <memory>
#include <optional>
#include <string>

#include "fmtreaders/fmtreaders.hpp"
#include "python/src/bindings.hpp"
#include "support/fatal.hpp"
#include "support/sizes.hpp"
#include "trajsrc/trajsrc.hpp"

namespace py = pybind11;

namespace kvtraj::python {
namespace {

// Runs `open`; when it fails, releases the reader handles it took first (a selection beyond the
// file is found after the file is open, and its slot would otherwise stay taken for good).
template <class Open>
void open_or_release(Open open) {
  const auto before = handcom();
  try {
    open();
  } catch (...) {
    const auto& now = handcom();
    for (std::size_t s = 0; s < static_cast<std::size_t>(kHandleSlots); ++s) {
      std::int32_t ignored = 0;
      if (now[s] != 0 && now[s] != before[s]) f77_molfile_close_read(now[s], ignored);
    }
    throw;
  }
}

// An open trajectory or album; its reader handle is released however the reading ends, since
// the process has only 50 of them.
class Source {
 public:
  Source(const std::string& name, std::optional<std::int32_t> natoms, bool is_album) {
    std::int32_t n = natoms.value_or(0);
    open_or_release([&] {
      if (is_album) {
        album_ = std::make_unique<album>(xalbopen(0, name, n));
      } else {
        traj_ = xopen(name, n);
      }
    });
    total_ = album_ ? album_->total : traj_.nsnaps;
    natoms_ = n;
  }
  ~Source() { close(); }
  Source(const Source&) = delete;
  Source& operator=(const Source&) = delete;

  void close() {
    if (album_) xclose(album_->active);
    xclose(traj_);
  }
  std::int32_t natoms() const { return natoms_; }
  std::int32_t nframes() const { return total_; }
  const std::string& name() const { return album_ ? album_->name : traj_.name; }

  // Snapshot i (1-based) into coords (3N) and its box into box (6).
  void read(std::int32_t i, float* coords, float* box) {
    const std::span<float> out(coords, 3 * static_cast<std::size_t>(natoms_));
    trajectory& t = album_ ? album_->active : traj_;
    if (album_) {
      xalbsnap(*album_, out, i);
    } else {
      xsnap(traj_, out, i);
    }
    if (t.status != 0) die(name() + ": cannot read snapshot " + std::to_string(i));
    std::copy(t.box.begin(), t.box.end(), box);
  }

 private:
  trajectory traj_;
  std::unique_ptr<album> album_;
  std::int32_t natoms_ = 0, total_ = 0;
};

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

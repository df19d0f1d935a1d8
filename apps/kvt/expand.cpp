// kvt expand: KVT file → rebuilt snapshots in a trajectory file, with the atoms' names (from
// the file's records or a topology) for the formats that hold them, all atoms or a selection.
#include <array>
#include <numeric>

#include "apps/kvt/bounded.hpp"
#include "apps/kvt/kvt_app.hpp"
#include "apps/kvt/output_format.hpp"
#include "clopts/clopts.hpp"
#include "kvt_io/kvt_io.hpp"
#include "topology/selection.hpp"
#include "topology/topology.hpp"
#include "trajsrc/trajsrc.hpp"

namespace kvtraj::app {
namespace {

constexpr std::int32_t kKvtUnit = 21;

struct FrameRange {
  std::int32_t first = 1, last = 0, stride = 1;
};

// --frames SEL in the selection syntax of trajectory names ("10:50:5", "3", ":100").
FrameRange frame_range(std::int32_t nframes) {
  FrameRange r{1, nframes, 1};
  const auto text = text_option("--frames");
  if (!text) return r;
  std::int32_t error = 0;
  xparse(*text, r.first, r.last, r.stride, error);
  if (error != 0 || r.first < 1 || r.stride < 1) fail("--frames: syntax error in " + *text);
  if (r.last == 0) r.last = nframes;
  if (r.first > nframes) {
    fail("--frames " + *text + ": the file holds only " + std::to_string(nframes) + " snapshots");
  }
  if (r.last > nframes) {
    std::fprintf(stderr, "kvt: warning: the file holds only %d snapshots; --frames cut to %d\n",
                 nframes, nframes);
    r.last = nframes;
  }
  return r;
}

// The atoms written and their identities.
struct OutputAtoms {
  std::vector<std::int32_t> written;  // 0-based among the file's atoms
  std::vector<AtomRecord> records;    // of the written atoms; empty when unknown
};

// The file's atoms within a topology: the topology is of the same atoms, or of the system they
// were selected from, whose atom numbers the file's records keep.
std::vector<std::int32_t> stored_atoms(const Topology& top, const kvtfile& kvtf,
                                       const std::string& path) {
  std::vector<std::int32_t> atoms(static_cast<std::size_t>(kvtf.natoms));
  if (top.natoms() == kvtf.natoms) {
    std::iota(atoms.begin(), atoms.end(), 0);
    return atoms;
  }
  if (kvtf.atoms.empty()) {
    fail(path + ": " + std::to_string(top.natoms()) + " atoms, but the KVT file holds " +
         std::to_string(kvtf.natoms) + " and no atom records to find them by");
  }
  for (std::size_t k = 0; k < atoms.size(); ++k) {
    const std::int32_t number = kvtf.atoms[k].number;
    if (number < 1 || number > top.natoms() || (k > 0 && number <= atoms[k - 1] + 1)) {
      fail(path + ": the KVT file's atom records do not number atoms of this topology");
    }
    atoms[k] = number - 1;
  }
  return atoms;
}

OutputAtoms output_atoms(const kvtfile& kvtf) {
  OutputAtoms out;
  out.written.resize(static_cast<std::size_t>(kvtf.natoms));
  std::iota(out.written.begin(), out.written.end(), 0);
  out.records = kvtf.atoms;
  const auto top_path = text_option("--top");
  const auto select = long_text_option("--select");
  if (select && !top_path) fail("--select needs a topology: give --top");
  if (!top_path) return out;
  const Topology top = read_topology(*top_path);
  const std::vector<std::int32_t> members = stored_atoms(top, kvtf, *top_path);
  out.records = top.records(members);
  if (!select) return out;
  IndexGroups groups;
  if (const auto index = text_option("--index")) groups = read_index_groups(*index, top.natoms());
  out.written = select_atoms(subset(top, members), *select, &groups);
  std::vector<AtomRecord> kept;
  for (const std::int32_t a : out.written) kept.push_back(out.records[static_cast<std::size_t>(a)]);
  out.records = std::move(kept);
  return out;
}

}  // namespace

int run_expand() {
  static constexpr std::array<std::string_view, 1> kFlags = {"--quiet"};
  static constexpr std::array<std::string_view, 8> kValued = {
      "-i", "-o", "--frames", "--vectors", "--precision", "--top", "--select", "--index"};
  check_arguments(kFlags, kValued);
  const std::string in = required_text("-i", "the KVT file to expand");
  const std::string out = required_text("-o", "the trajectory file to write");
  const TrajectoryFormat format = output_format(out);
  const float precision = output_precision(format);
  const VectorRange vectors = parse_vector_range(text_option("--vectors").value_or(":"));
  const kvtfile kvtf = kvtopen(kKvtUnit, in);
  if (kvtf.status != 0) fail(in + ": the KVT file is incomplete or unreadable");
  const FrameRange range = frame_range(kvtf.nframes);
  const OutputAtoms atoms = output_atoms(kvtf);
  const bool all = atoms.written.size() == static_cast<std::size_t>(kvtf.natoms);

  auto writer = written([&] {
    return TrajectoryWriter::create(out, format, static_cast<std::int32_t>(atoms.written.size()),
                                    false, kvtf.title, precision, atoms.records);
  });
  Progress progress(!getflag("--quiet"));
  progress.begin("writing " + out, (range.last - range.first) / range.stride + 1);
  std::vector<float> snapshot(3 * static_cast<std::size_t>(kvtf.natoms));
  std::vector<float> chosen(all ? 0 : 3 * atoms.written.size());
  SnapshotSource source(kvtf, vectors, text_option("--vectors").has_value());
  std::int64_t done = 0;
  for (std::int64_t i = range.first; i <= range.last; i += range.stride) {
    source.read(static_cast<std::int32_t>(i), snapshot);
    if (!all) {
      for (std::size_t k = 0; k < atoms.written.size(); ++k) {
        const auto from = snapshot.begin() + 3 * static_cast<std::ptrdiff_t>(atoms.written[k]);
        std::copy(from, from + 3, chosen.begin() + 3 * static_cast<std::ptrdiff_t>(k));
      }
    }
    written([&] { return writer->write_frame(all ? snapshot : chosen); });
    progress.update(++done);
  }
  written([&] { return writer->finish(); });
  progress.end();
  return 0;
}

}  // namespace kvtraj::app

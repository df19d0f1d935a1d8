// kvt expand: KVT file → rebuilt snapshots in a trajectory file.
#include <array>

#include "apps/kvt/bounded.hpp"
#include "apps/kvt/kvt_app.hpp"
#include "apps/kvt/output_format.hpp"
#include "clopts/clopts.hpp"
#include "kvt_io/kvt_io.hpp"
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

}  // namespace

int run_expand() {
  static constexpr std::array<std::string_view, 1> kFlags = {"--quiet"};
  static constexpr std::array<std::string_view, 5> kValued = {"-i", "-o", "--frames", "--vectors",
                                                              "--precision"};
  check_arguments(kFlags, kValued);
  const std::string in = required_text("-i", "the KVT file to expand");
  const std::string out = required_text("-o", "the trajectory file to write");
  const TrajectoryFormat format = output_format(out);
  const float precision = output_precision(format);
  const VectorRange vectors = parse_vector_range(text_option("--vectors").value_or(":"));
  const kvtfile kvtf = kvtopen(kKvtUnit, in);
  if (kvtf.status != 0) fail(in + ": the KVT file is incomplete or unreadable");
  const FrameRange range = frame_range(kvtf.nframes);

  auto writer = written([&] {
    return TrajectoryWriter::create(out, format, kvtf.natoms, false, kvtf.title, precision);
  });
  Progress progress(!getflag("--quiet"));
  progress.begin("writing " + out, (range.last - range.first) / range.stride + 1);
  std::vector<float> snapshot(3 * static_cast<std::size_t>(kvtf.natoms));
  SnapshotSource source(kvtf, vectors, text_option("--vectors").has_value());
  std::int64_t done = 0;
  for (std::int64_t i = range.first; i <= range.last; i += range.stride) {
    source.read(static_cast<std::int32_t>(i), snapshot);
    written([&] { return writer->write_frame(snapshot); });
    progress.update(++done);
  }
  written([&] { return writer->finish(); });
  progress.end();
  return 0;
}

}  // namespace kvtraj::app

// kvt convert: any readable trajectory (selection, album; with a topology the selected atoms,
// their periodic images repaired) → the format of the output's extension, unit cells carried
// where both formats hold one.
#include <array>
#include <cstdio>

#include "apps/kvt/kvt_app.hpp"
#include "apps/kvt/output_format.hpp"
#include "clopts/clopts.hpp"

namespace kvtraj::app {

int run_convert() {
  static constexpr std::array<std::string_view, 1> kFlags = {"--quiet"};
  static constexpr std::array<std::string_view, 10> kValued = {
      "-i",          "-o",    "--album",  "--natoms", "--title",
      "--precision", "--top", "--select", "--index",  "--pbc"};
  check_arguments(kFlags, kValued);
  const std::string out = required_text("-o", "the trajectory file to write");
  TrajectoryFormat format = output_format(out);
  const float precision = output_precision(format);
  const std::unique_ptr<Input> source = Input::open(input_options(PbcMode::none, false));
  source->source().require_whole();
  const bool box = source->has_box();
  // A box needs the AMBER layout with box lines; the other formats carry it themselves.
  if (box && format == TrajectoryFormat::crd) {
    format = TrajectoryFormat::crdbox;
    std::fprintf(stderr,
                 "kvt: warning: %s gets a box line after each frame; readers that go by the "
                 "extension need the name .crdbox\n",
                 out.c_str());
  }

  const std::string title =
      text_option("--title").value_or("converted by kvt from " + source->name());
  auto writer = written([&] {
    return TrajectoryWriter::create(out, format, source->natoms(), box, title, precision,
                                    source->records());
  });
  Progress progress(!getflag("--quiet"));
  progress.begin("converting " + source->name(), source->count());
  // A header may claim any atom count; only a file that holds frames backs the buffer.
  std::vector<float> coords(source->count() > 0 ? 3 * static_cast<std::size_t>(source->natoms())
                                                : 0);
  for (std::int32_t i = 1; i <= source->count(); ++i) {
    source->read(i, coords);
    written([&] { return writer->write_frame(coords, source->cell()); });
    progress.update(i);
  }
  written([&] { return writer->finish(); });
  progress.end();
  return 0;
}

}  // namespace kvtraj::app

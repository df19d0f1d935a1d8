// kvt project: the projections of any trajectory's frames onto a KVT file's vectors.
#include <array>

#include "analysis/analysis.hpp"
#include "apps/kvt/kvt_app.hpp"
#include "apps/kvt/table.hpp"
#include "clopts/clopts.hpp"
#include "frames/frames.hpp"
#include "kvt_io/kvt_io.hpp"

namespace kvtraj::app {
namespace {

constexpr std::int32_t kKvtUnit = 24;

Table projection_table(const analysis::Projections& p, const std::string& name) {
  Table t;
  t.title = "projections of " + name;
  t.x_label = "snapshot";
  t.y_label = "projection (Å)";
  for (std::int32_t k = p.vectors.first; k <= p.vectors.last; ++k) {
    t.legends.push_back("vector " + std::to_string(k));
  }
  t.rows = p.frames;
  t.value = [&p](std::int64_t r, std::size_t c) {
    return double{p.values[r + static_cast<std::size_t>(p.frames) * c]};
  };
  return t;
}

}  // namespace

int run_project() {
  static constexpr std::array<std::string_view, 4> kFlags = {"--quiet", "--no-fit", kTableFlags[0],
                                                             kTableFlags[1]};
  static constexpr std::array<std::string_view, 10> kValued = {
      "-i",    "-t",      "-o",       "--vectors", "--threads",
      "--top", "--index", "--select", "--pbc",     "--natoms"};
  check_arguments(kFlags, kValued);
  const std::string in = required_text("-i", "the KVT file to project onto");
  const std::string traj = required_text("-t", "the trajectory to project");
  const auto out = text_option("-o");
  const TableStyle style = out ? table_style_of(*out) : table_style();
  if (out && style != table_style() && table_style() != TableStyle::plain) {
    fail(*out + ": the extension and --xvg / --csv disagree");
  }
  const int threads = threads_option();
  const kvtfile kvtf = kvtopen(kKvtUnit, in);
  if (kvtf.status != 0) fail(in + ": the KVT file is incomplete or unreadable");
  const VectorRange r = parse_vector_range(text_option("--vectors").value_or(":"));
  const analysis::VectorSpan span =
      analysis::checked_span(kvtf, r.first.value_or(1), r.last.value_or(kvtf.nvecs));

  const std::unique_ptr<Input> input = Input::open(input_options(PbcMode::nojump, true, traj));
  input->source().require_whole();
  if (input->natoms() != kvtf.natoms) {
    fail(input->name() + ": " + input->describe() + ", but " + in + " holds " +
         std::to_string(kvtf.natoms) + " atoms");
  }
  analysis::check_atom_names(input->records(), kvtf.atoms, input->name(), in);
  Progress progress(!getflag("--quiet"));
  InputFrames reader(*input);
  const analysis::Projections p =
      analysis::project(reader, kvtf, span, threads, !getflag("--no-fit"), progress.callback());
  progress.end();
  const Table table = projection_table(p, input->name());
  if (out) {
    write_table(*out, table);
  } else {
    print_table(stdout, table, style);
  }
  return 0;
}

}  // namespace kvtraj::app

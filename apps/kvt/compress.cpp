// kvt compress: the options, the input trajectory and the summary line around the pca engine.
#include <array>
#include <cstdio>
#include <optional>

#include "apps/kvt/bounded.hpp"
#include "apps/kvt/kvt_app.hpp"
#include "apps/kvt/output_format.hpp"
#include "clopts/clopts.hpp"
#include "fmtwriters/fmtwriters.hpp"
#include "frames/frames.hpp"
#include "pca/pca.hpp"

namespace kvtraj::app {
namespace {

pca::VectorChoice vector_choice() {
  const auto count = int_option("--vectors");
  const auto quality = real_option("--quality");
  const auto rmsd = real_option("--rmsd");
  if (count.has_value() + quality.has_value() + rmsd.has_value() > 1) {
    fail("give only one of --vectors, --quality and --rmsd");
  }
  if (count) {
    if (*count < 0) fail("--vectors must not be negative");
    return {pca::VectorChoice::count, static_cast<double>(*count)};
  }
  if (rmsd) {
    if (!(*rmsd >= 0.0f)) fail("--rmsd must be a distance of 0 Å or more");
    return {pca::VectorChoice::rmsd, *rmsd};
  }
  const float pct = quality.value_or(90.0f);
  if (!(pct >= 0.0f && pct <= 100.0f)) fail("--quality must be a percentage from 0 to 100");
  return {pca::VectorChoice::quality, pct};
}

pca::Solver solver_option() {
  const auto solver = pca::solver_from_name(text_option("--solver").value_or("auto"));
  if (!solver) fail("--solver must be exact, randomized or auto");
  return *solver;
}

std::int64_t memory_option() {
  const auto mb = int_option("--memory");
  if (!mb) return 0;
  if (*mb < 1) fail("--memory must be a positive number of MB");
  return static_cast<std::int64_t>(*mb) << 20;
}

// The fit group and the reference structure, over the stored atoms.
void fit_options(const Input& input, pca::Options& options) {
  const auto fit_select = long_text_option("--fit-select");
  const auto ref = text_option("--ref");
  if ((fit_select || ref) && !options.fit)
    fail("--fit-select and --ref need fitting (no --no-fit)");
  if (fit_select) {
    if (!input.plan().topology) fail("--fit-select needs a topology: give --top");
    options.fit_weights = fit_weights(input.plan(), *fit_select);
  }
  if (ref) {
    if (!input.plan().topology) fail("--ref needs a topology: give --top");
    options.reference = reference_structure(input.plan(), *ref);
  }
}

// --write-top: checked before the analysis, so that a bad request leaves no KVT file.
std::optional<std::string> topology_output(const Input& input) {
  const auto path = text_option("--write-top");
  if (!path) return path;
  if (!input.plan().topology) fail("--write-top needs a topology: give --top");
  const auto format = format_from_extension(*path);
  if (format != TrajectoryFormat::pdb && format != TrajectoryFormat::gro) {
    fail(*path + ": --write-top writes .pdb or .gro");
  }
  return path;
}

// The stored atoms with the average structure, for viewers and as a topology of the KVT file.
void write_topology(const std::string& path, const pca::Options& options,
                    const pca::Components& c) {
  auto writer = written([&] {
    return TrajectoryWriter::create(path, *format_from_extension(path), c.natoms, false,
                                    options.title, 0.0f, options.atoms);
  });
  written([&] { return writer->write_frame(c.average); });
  written([&] { return writer->finish(); });
}

void print_summary(const std::string& out, const std::string& input, const pca::Summary& s) {
  const std::uint64_t dcd = dcd_file_size(s.natoms, static_cast<std::int32_t>(s.frames), false);
  std::printf(
      "%s: %s, %lld snapshots, %d vectors kept (%.1f %% of the variance), expected RMS "
      "error %.3f Å, %llu bytes (%.1f %% of the same frames as DCD, %llu bytes), %s solver, %d "
      "passes\n",
      out.c_str(), input.c_str(), static_cast<long long>(s.frames), s.kept, s.percent,
      s.expected_rmsd, static_cast<unsigned long long>(s.bytes),
      100.0 * static_cast<double>(s.bytes) / static_cast<double>(dcd),
      static_cast<unsigned long long>(dcd), pca::solver_name(s.solver), s.passes);
}

}  // namespace

int run_compress(Team& team) {
  static constexpr std::array<std::string_view, 3> kFlags = {"--kvt6", "--no-fit", "--quiet"};
  static constexpr std::array<std::string_view, 20> kValued = {
      "-i",      "-o",           "--album",  "--natoms",    "--vectors",   "--quality", "--rmsd",
      "--title", "--solver",     "--memory", "--threads",   "--top",       "--select",  "--index",
      "--pbc",   "--fit-select", "--ref",    "--write-top", "--max-error", "--solvent"};
  check_arguments(kFlags, kValued);
  const std::string out = required_text("-o", "the KVT file to write");
  pca::Options options;
  const auto max_error = max_error_option();
  if (!max_error) options.choice = vector_choice();
  options.solver = solver_option();
  options.memory_bytes = memory_option();
  options.threads = threads_option();
  options.fit = !getflag("--no-fit");
  options.kvt6 = getflag("--kvt6");
  const std::unique_ptr<Input> input = Input::open(input_options(PbcMode::nojump, true));
  input->source().require_whole();
  const std::int64_t total = input->count();
  if (total < 1) fail(input->name() + ": no snapshots selected");
  if (total < team.size()) {
    fail(input->name() + ": " + std::to_string(total) + " snapshots cannot be shared by " +
         std::to_string(team.size()) + " processes");
  }
  fit_options(*input, options);
  const std::optional<std::string> topology_out = topology_output(*input);
  options.atoms = input->records();
  // Contiguous shares of the selection, one per process.
  options.first = total * team.rank() / team.size();
  options.last = total * (team.rank() + 1) / team.size();
  options.title = text_option("--title").value_or("kvt compress of " + input->name());

  Progress progress(!getflag("--quiet") && team.rank() == 0);
  InputFrames reader(*input);
  const std::optional<pca::BoundedOptions> bounded = bounded_options(max_error, *input);
  pca::Components c =
      pca::analyse(reader, bounded ? pca::bounded_analysis(options, *bounded) : options,
                   progress.callback(), team.reducer());
  team.gather(c, options.first, options.last);
  if (team.rank() != 0) return 0;
  // Made before the output is committed: a failed allocation afterwards would report a failure
  // with the new file already in place of the old.
  const std::string described = input->describe();
  if (!bounded) {
    const pca::Summary summary = pca::write(c, out, options, progress.callback());
    if (topology_out) write_topology(*topology_out, options, c);
    print_summary(out, described, summary);
    return 0;
  }
  const pca::BoundedSummary summary =
      pca::write_bounded(c, reader, out, options, *bounded, progress.callback());
  if (topology_out) write_topology(*topology_out, options, c);
  print_bounded_summary(out, described, summary);
  return 0;
}

int run_compress() {
  Team single;
  return run_compress(single);
}

}  // namespace kvtraj::app

// kvt compress: the options, the input trajectory and the summary line around the pca engine.
#include <array>
#include <cstdio>

#include "apps/kvt/frame_source.hpp"
#include "apps/kvt/kvt_app.hpp"
#include "clopts/clopts.hpp"
#include "fmtwriters/fmtwriters.hpp"
#include "pca/pca.hpp"

namespace kvtraj::app {
namespace {

// The frames of a FrameSource for the engine. Text formats, albums and strided selections
// decode slowly and are copied once to a temporary file; other files are opened once more for
// every further thread, which then reads its own part of the frames.
class SourceReader final : public pca::FrameReader {
 public:
  SourceReader(FrameSource& source, bool album) : source_(source), album_(album) {}
  explicit SourceReader(std::unique_ptr<FrameSource> owned)
      : owned_(std::move(owned)), source_(*owned_) {}
  std::int32_t natoms() const override { return source_.natoms(); }
  std::int64_t frames() const override { return source_.count(); }
  std::string name() const override { return source_.name(); }
  void read(std::int64_t first, std::int64_t count, std::span<float> out) override {
    const auto n = static_cast<std::size_t>(3) * source_.natoms();
    for (std::int64_t f = 0; f < count; ++f) {
      source_.read(static_cast<std::int32_t>(first + f + 1),
                   out.subspan(static_cast<std::size_t>(f) * n, n));
    }
  }
  bool slow() const override { return pca::slow_to_decode(name(), source_.type_code(), album_); }
  std::string fingerprint() const override { return pca::file_fingerprint(name()); }
  std::unique_ptr<pca::FrameReader> another() const override {
    if (slow()) return nullptr;
    return std::make_unique<SourceReader>(FrameSource::open_file(name(), natoms()));
  }

 private:
  std::unique_ptr<FrameSource> owned_;
  FrameSource& source_;
  bool album_ = false;
};

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

int threads_option() {
  const std::int32_t threads = int_option("--threads").value_or(2);
  if (threads < 1) fail("--threads must be 1 or more");
  return threads;
}

void print_summary(const std::string& out, const pca::Summary& s) {
  const std::uint64_t dcd = dcd_file_size(s.natoms, static_cast<std::int32_t>(s.frames), false);
  std::printf(
      "%s: %d atoms, %lld snapshots, %d vectors kept (%.1f %% of the variance), expected RMS "
      "error %.3f Å, %llu bytes (%.1f %% of the same frames as DCD, %llu bytes), %s solver, %d "
      "passes\n",
      out.c_str(), s.natoms, static_cast<long long>(s.frames), s.kept, s.percent, s.expected_rmsd,
      static_cast<unsigned long long>(s.bytes),
      100.0 * static_cast<double>(s.bytes) / static_cast<double>(dcd),
      static_cast<unsigned long long>(dcd), pca::solver_name(s.solver), s.passes);
}

}  // namespace

int run_compress(Team& team) {
  static constexpr std::array<std::string_view, 3> kFlags = {"--kvt6", "--no-fit", "--quiet"};
  static constexpr std::array<std::string_view, 11> kValued = {
      "-i",     "-o",      "--album",  "--natoms", "--vectors", "--quality",
      "--rmsd", "--title", "--solver", "--memory", "--threads"};
  check_arguments(kFlags, kValued);
  const std::string out = required_text("-o", "the KVT file to write");
  pca::Options options;
  options.choice = vector_choice();
  options.solver = solver_option();
  options.memory_bytes = memory_option();
  options.threads = threads_option();
  options.fit = !getflag("--no-fit");
  options.kvt6 = getflag("--kvt6");
  auto source = FrameSource::from_options();
  source->require_whole();
  const std::int64_t total = source->count();
  if (total < 1) fail(source->name() + ": no snapshots selected");
  if (total < team.size()) {
    fail(source->name() + ": " + std::to_string(total) + " snapshots cannot be shared by " +
         std::to_string(team.size()) + " processes");
  }
  // Contiguous shares of the selection, one per process.
  options.first = total * team.rank() / team.size();
  options.last = total * (team.rank() + 1) / team.size();
  options.title = text_option("--title").value_or("kvt compress of " + source->name());

  Progress progress(!getflag("--quiet") && team.rank() == 0);
  SourceReader reader(*source, text_option("--album").has_value());
  // The engine's fatal lines are the command's: they carry the program's prefix.
  const SinkInFront prefix = prefix_fatal_lines();
  pca::Components c = pca::analyse(reader, options, progress.callback(), team.reducer());
  team.gather(c, options.first, options.last);
  if (team.rank() != 0) return 0;
  const pca::Summary summary = pca::write(c, out, options, progress.callback());
  print_summary(out, summary);
  return 0;
}

int run_compress() {
  Team single;
  return run_compress(single);
}

}  // namespace kvtraj::app

// kvt compress: trajectory → fitted snapshots → principal components → KVT file.
#include <array>
#include <cstdio>
#include <new>

#include "apps/kvt/frame_source.hpp"
#include "apps/kvt/pca.hpp"
#include "clopts/clopts.hpp"
#include "ensemble/ensemble.hpp"
#include "fmtwriters/fmtwriters.hpp"
#include "kvt_io/kvt_io.hpp"
#include "spectral/spectral.hpp"
#include "support/files.hpp"
#include "support/sizes.hpp"

namespace kvtraj::app {
namespace {

constexpr std::int32_t kKvtUnit = 20;

std::vector<float> read_snapshots(FrameSource& source, Progress& progress) {
  const std::int64_t n = 3 * static_cast<std::int64_t>(source.natoms());
  const auto values = checked_mul(n, source.count());
  const auto bytes = values ? checked_mul(static_cast<std::int64_t>(*values), 4) : std::nullopt;
  if (!bytes) fail(source.name() + ": too many snapshots to hold in memory");
  std::vector<float> traj;
  try {
    traj.resize(*values);
  } catch (const std::bad_alloc&) {
    fail("not enough memory for the " + std::to_string(source.count()) + " snapshots (" +
         std::to_string(*bytes >> 20) + " MiB)");
  }
  progress.begin("reading " + source.name(), source.count());
  for (std::int32_t i = 1; i <= source.count(); ++i) {
    source.read(i, std::span<float>(traj).subspan(static_cast<std::size_t>(i - 1) * n, n));
    progress.update(i);
  }
  progress.end();
  return traj;
}

VectorChoice vector_choice() {
  const auto count = int_option("--vectors");
  const auto quality = real_option("--quality");
  const auto rmsd = real_option("--rmsd");
  if (count.has_value() + quality.has_value() + rmsd.has_value() > 1) {
    fail("give only one of --vectors, --quality and --rmsd");
  }
  if (count) {
    if (*count < 0) fail("--vectors must not be negative");
    return {VectorChoice::count, static_cast<double>(*count)};
  }
  if (rmsd) {
    if (!(*rmsd >= 0.0f)) fail("--rmsd must be a distance of 0 Å or more");
    return {VectorChoice::rmsd, *rmsd};
  }
  const float pct = quality.value_or(90.0f);
  if (!(pct >= 0.0f && pct <= 100.0f)) fail("--quality must be a percentage from 0 to 100");
  return {VectorChoice::quality, pct};
}

// The spectrum of the second-moment matrix, largest first.
std::vector<float> spectrum(std::span<const float> matrix, std::int64_t order, Progress& progress) {
  std::vector<float> values(static_cast<std::size_t>(order));
  progress.begin("eigenvalues");
  evals(VectorView{values.data(), order, 1},
        ConstMatrixView{matrix.data(), order, order, 1, order});
  progress.end();
  return values;
}

struct Components {
  std::int32_t kept = 0;
  std::vector<float> eigenvalues;  // all, largest first
  std::vector<float> vectors;      // 3N x kept
  std::vector<float> proj;         // frames x kept
  double total = 0.0;              // total variance
};

Components analyse(std::span<float> xc, std::int32_t natoms, std::int32_t frames,
                   const VectorChoice& choice, Progress& progress) {
  const std::int64_t n = 3 * static_cast<std::int64_t>(natoms);
  const bool gram = frames < n;
  const std::int64_t order = gram ? frames : n;
  if (order > kMaxMatrixOrder) {
    fail("the " + std::to_string(order) + " x " + std::to_string(order) +
         " matrix is beyond the eigen-solver's limit of " + std::to_string(kMaxMatrixOrder) +
         "; select fewer snapshots or atoms");
  }
  Components c;
  {
    const std::vector<float> matrix = second_moments(xc, n, frames, gram, progress);
    c.total = trace(matrix, order);
    c.eigenvalues = spectrum(matrix, order, progress);
    const std::int32_t rank = std::min(numeric_rank(c.eigenvalues), frames - 1);
    c.kept = choose_vectors(c.eigenvalues, c.total, rank, natoms, choice);
    progress.begin("eigenvectors");
    c.vectors = covariance_vectors(matrix, order, c.kept, gram, xc, n);
    progress.end();
  }
  c.proj = projections(xc, n, frames, c.vectors, c.kept);
  return c;
}

void write_kvt(const std::string& out, const std::string& title, std::int32_t natoms,
               std::int32_t frames, std::span<const float> average, const Components& c, bool kvt6,
               Progress& progress) {
  const std::size_t n = 3 * static_cast<std::size_t>(natoms);
  kvtfile kvtf =
      kvtcreate(kKvtUnit, out, title, natoms, frames, c.kept, static_cast<float>(c.total), average);
  for (std::int32_t k = 0; k < c.kept; ++k) {
    kvtwrite(kvtf, k + 1, std::span(c.vectors).subspan(k * n, n), c.eigenvalues[k],
             std::span(c.proj).subspan(static_cast<std::size_t>(k) * frames, frames));
  }
  if (kvt6) kvtf.magic = "KVT6";
  progress.begin("writing " + out);
  const std::int32_t status = kvtclose(kvtf);
  progress.end();
  if (status != 0) fail(out + ": the KVT file could not be written");
}

void print_summary(const std::string& out, std::int32_t natoms, std::int32_t frames,
                   const Components& c) {
  double captured = 0.0;
  for (std::int32_t k = 0; k < c.kept; ++k) captured += c.eigenvalues[k];
  const double pct = c.total > 0.0 ? 100.0 * captured / c.total : 100.0;
  const std::uint64_t size = file_size(out).value_or(0);
  const std::uint64_t dcd = dcd_file_size(natoms, frames, false);
  std::printf(
      "%s: %d atoms, %d snapshots, %d vectors kept (%.1f %% of the variance), expected RMS "
      "error %.3f Å, %llu bytes (%.1f %% of the same frames as DCD, %llu bytes)\n",
      out.c_str(), natoms, frames, c.kept, pct,
      expected_rmsd(c.eigenvalues, c.total, c.kept, natoms), static_cast<unsigned long long>(size),
      100.0 * static_cast<double>(size) / static_cast<double>(dcd),
      static_cast<unsigned long long>(dcd));
}

}  // namespace

int run_compress() {
  static constexpr std::array<std::string_view, 3> kFlags = {"--kvt6", "--no-fit", "--quiet"};
  static constexpr std::array<std::string_view, 8> kValued = {
      "-i", "-o", "--album", "--natoms", "--vectors", "--quality", "--rmsd", "--title"};
  check_arguments(kFlags, kValued);
  const std::string out = required_text("-o", "the KVT file to write");
  const VectorChoice choice = vector_choice();
  Progress progress(!getflag("--quiet"));
  auto source = FrameSource::from_options();
  const std::int32_t natoms = source->natoms(), frames = source->count();
  source->require_whole();
  if (frames < 1) fail(source->name() + ": no snapshots selected");

  std::vector<float> traj = read_snapshots(*source, progress);
  std::vector<float> average(3 * static_cast<std::size_t>(natoms));
  if (getflag("--no-fit")) {
    trajavg(traj, average, natoms, frames);
  } else {
    fit_iteratively(traj, natoms, frames, average, progress);
  }
  subtract_average(traj, average);
  const Components c = analyse(traj, natoms, frames, choice, progress);
  traj = {};
  const std::string title = text_option("--title").value_or("kvt compress of " + source->name());
  write_kvt(out, title, natoms, frames, average, c, getflag("--kvt6"), progress);
  print_summary(out, natoms, frames, c);
  return 0;
}

}  // namespace kvtraj::app

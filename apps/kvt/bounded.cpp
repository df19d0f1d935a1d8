// kvt compress --max-error, and reading KVT7 files in expand and info.
#include "apps/kvt/bounded.hpp"

#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "clopts/clopts.hpp"
#include "codec/codec.hpp"
#include "fmtwriters/fmtwriters.hpp"
#include "pca/bounded.hpp"

namespace kvtraj::app {

std::optional<double> max_error_option() {
  const auto text = text_option("--max-error");
  if (!text) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const double e = std::strtod(text->c_str(), &end);
  if (text->empty() || *end != '\0' || errno == ERANGE || !(e > 0.0) || !std::isfinite(e)) {
    fail("--max-error must be a positive distance in Å, not \"" + *text + "\"");
  }
  return e;
}

std::optional<pca::BoundedOptions> bounded_options(std::optional<double> max_error,
                                                   const Input& input) {
  if (!max_error) {
    if (text_option("--solvent")) fail("--solvent needs --max-error");
    return std::nullopt;
  }
  if (text_option("--quality") || text_option("--rmsd") || getflag("--kvt6")) {
    fail("--max-error chooses the vectors itself: give no --quality, --rmsd or --kvt6");
  }
  pca::BoundedOptions bounded;
  bounded.max_error = *max_error;
  if (const auto k = int_option("--vectors")) {
    if (*k < 0) fail("--vectors must not be negative");
    bounded.vectors = *k;
  }
  const auto solvent = long_text_option("--solvent");
  if (solvent && !input.plan().topology) fail("--solvent needs a topology: give --top");
  for (const AtomRun& run : solvent_runs(input.plan(), solvent))
    bounded.groups.push_back({run.first, run.count});
  return bounded;
}

void print_bounded_summary(const std::string& out, const std::string& input,
                           const pca::BoundedSummary& b) {
  const pca::Summary& s = b.summary;
  const double raw = 12.0 * s.natoms * static_cast<double>(s.frames);
  const std::uint64_t dcd = dcd_file_size(s.natoms, static_cast<std::int32_t>(s.frames), false);
  std::printf(
      "%s: %s, %lld snapshots, maximum error %g Å (largest found %.6g Å), %d vectors kept "
      "(%.1f %% of the variance), %lld of %lld blocks predicted from them, %llu bytes (%.2f "
      "times smaller than float32, %.1f %% of the same frames as DCD), %s solver, %d passes\n",
      out.c_str(), input.c_str(), static_cast<long long>(s.frames), b.max_error, b.max_deviation,
      s.kept, s.percent, static_cast<long long>(b.model_blocks), static_cast<long long>(b.blocks),
      static_cast<unsigned long long>(s.bytes), raw / static_cast<double>(s.bytes),
      100.0 * static_cast<double>(s.bytes) / static_cast<double>(dcd), pca::solver_name(s.solver),
      s.passes);
}

SnapshotSource::SnapshotSource(const kvtfile& kvtf, const VectorRange& vectors, bool vectors_given)
    : kvtf_(kvtf), vectors_(vectors) {
  if (kvtf.coded && !vectors_given) frames_ = std::make_unique<kvtframes>(kvtf);
}

void SnapshotSource::read(std::int32_t i, std::span<float> out) {
  if (frames_) return frames_->read(i, out);
  kvtsnap(kvtf_, i, out, vectors_.first, vectors_.last);
}

void print_coded_info(const kvtfile& kvtf, std::uint64_t file_bytes) {
  const codec::Section& s = *kvtf.coded;
  std::uint64_t transforms = 0, blocks = 0;
  for (const codec::BlockEntry& e : s.blocks) {
    transforms += e.transform_bytes;
    blocks += e.bytes;
  }
  const std::uint64_t model = kvtf.coded_offset + s.header_bytes;
  const auto share = [&](std::uint64_t part) {
    return 100.0 * static_cast<double>(part) / static_cast<double>(file_bytes);
  };
  std::printf("maximum error: %g Å per coordinate\n", s.max_error);
  std::printf("blocks:    %zu of %lld frames\n", s.blocks.size(),
              static_cast<long long>(s.block_frames));
  std::printf(
      "bytes:     %llu: model %.2f %%, transforms %.2f %%, residuals %.2f %%, index %.2f %%\n",
      static_cast<unsigned long long>(file_bytes), share(model), share(transforms),
      share(blocks - transforms), share(s.index_bytes));
}

}  // namespace kvtraj::app

// The bounded compressor: the choice of vectors and plan on the first block, then the coding
// pass, block after block, into the coded part of a KVT7 file.
#include "pca/bounded.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "kvt_io/kvt_io.hpp"
#include "pca/parallel.hpp"
#include "superpose/superpose.hpp"
#include "support/fatal.hpp"
#include "support/files.hpp"

namespace kvtraj::pca {
namespace {

constexpr std::int32_t kKvtUnit = 23;
// Vector counts tried when the size decides.
constexpr std::int32_t kTrials[] = {0, 4, 8, 16, 32};
// The plan's least squares look at this many frames of the sample at most.
constexpr std::int64_t kPlanFrames = 64;

codec::Model model_of(const Components& c, std::int32_t k) {
  const std::size_t n = c.average.size();
  const auto f = static_cast<std::size_t>(c.frames);
  return {c.natoms,
          k,
          c.frames,
          c.average,
          std::span<const float>(c.vectors).first(static_cast<std::size_t>(k) * n),
          std::span<const float>(c.proj).first(static_cast<std::size_t>(k) * f)};
}

// Each frame's fit onto the average (identity transforms without fitting).
std::vector<codec::Transform> fits(const Components& c, std::span<const float> frames,
                                   std::int64_t count, bool fit) {
  std::vector<codec::Transform> out(static_cast<std::size_t>(count));
  if (!fit) return out;
  const std::size_t n = c.average.size();
  const FitReference average(c.natoms, c.average);
  for (std::size_t t = 0; t < out.size(); ++t) {
    Matrix3f rot{};
    Vector3f trans{};
    float rms = 0.0f;
    average.fit(frames.subspan(t * n, n), rot, trans, rms, 1);
    std::copy(rot.begin(), rot.end(), out[t].rot.begin());
    std::copy(trans.begin(), trans.end(), out[t].trans.begin());
  }
  return out;
}

// How the file is coded: with the first `vectors` components (when `model`) and this plan.
struct Choice {
  bool model = false;
  std::int32_t vectors = 0;
  codec::Plan plan;
};

// Bytes of the file for `frames` frames that code like the sample, plus the vectors' cost.
double file_bytes(const Components& c, std::int32_t k, std::size_t sample_bytes,
                  std::int64_t sample_frames) {
  const double n = static_cast<double>(c.average.size());
  const double per_frame = static_cast<double>(sample_bytes) / static_cast<double>(sample_frames);
  return per_frame * static_cast<double>(c.frames) +
         static_cast<double>(k) * (4.0 * n + 4.0 + 4.0 * static_cast<double>(c.frames));
}

Choice choose(const Components& c, std::span<const float> sample, std::int64_t count,
              const Options& options, const BoundedOptions& b) {
  double largest = 0.0;
  for (float v : sample) largest = std::max(largest, std::fabs(static_cast<double>(v)));
  const double step = codec::grid_step(b.max_error, largest);
  const std::vector<codec::Transform> transforms = fits(c, sample, count, options.fit);
  Choice best;
  double best_bytes = std::numeric_limits<double>::infinity();
  const auto consider = [&](bool model, std::int32_t k) {
    const codec::Model m = model_of(c, model ? k : 0);
    const std::span<const codec::Transform> t =
        model ? std::span(transforms) : std::span<const codec::Transform>();
    const std::int64_t p = std::min(count, kPlanFrames);
    codec::Plan plan =
        codec::choose_plan(m, sample.first(static_cast<std::size_t>(p) * c.average.size()), 0, p,
                           t.first(model ? static_cast<std::size_t>(p) : 0), step, b.groups);
    const codec::EncodedBlock e = codec::encode_block(m, plan, {0, count, sample, t}, b.max_error);
    const double bytes = file_bytes(c, model ? k : 0, e.bytes.size(), count);
    if (bytes < best_bytes) {
      best_bytes = bytes;
      best = {model, k, std::move(plan)};
    }
  };
  if (b.vectors) {
    consider(true, std::min(*b.vectors, c.kept));
    return best;
  }
  consider(false, 0);
  for (std::int32_t k : kTrials) {
    if (k <= c.kept) consider(true, k);
  }
  return best;
}

struct Coded {
  double max_deviation = 0.0;
  std::int64_t blocks = 0;
  std::int64_t model_blocks = 0;
};

// The coding pass: blocks read in order, a batch of one block per thread coded at once.
bool code_frames(const Components& c, FrameReader& reader, const Choice& choice,
                 const Options& options, const BoundedOptions& b, std::int64_t block_frames,
                 std::FILE* file, Coded& coded, const ProgressFn& progress) {
  const std::size_t n = c.average.size();
  const codec::Model model = model_of(c, choice.vectors);
  const int threads = std::max(1, options.threads);
  codec::SectionWriter writer(file, b.max_error, block_frames, choice.plan);
  std::vector<std::vector<float>> frames(static_cast<std::size_t>(threads));
  std::vector<codec::EncodedBlock> out(static_cast<std::size_t>(threads));
  for (std::int64_t first = 0; first < c.frames; first += block_frames * threads) {
    const std::int64_t batch =
        std::min<std::int64_t>(threads, codec::block_count(c.frames - first, block_frames));
    for (std::int64_t i = 0; i < batch; ++i) {
      const std::int64_t at = first + i * block_frames;
      const std::int64_t count = std::min(block_frames, c.frames - at);
      frames[static_cast<std::size_t>(i)].resize(static_cast<std::size_t>(count) * n);
      reader.read(at, count, frames[static_cast<std::size_t>(i)]);
    }
    run_threads(static_cast<int>(batch), [&](int t, const std::atomic<bool>&) {
      const auto i = static_cast<std::size_t>(t);
      const std::int64_t at = first + t * block_frames;
      const std::int64_t count = static_cast<std::int64_t>(frames[i].size() / n);
      const std::vector<codec::Transform> transforms =
          choice.model ? fits(c, frames[i], count, options.fit) : std::vector<codec::Transform>();
      out[i] =
          codec::encode_block(model, choice.plan, {at, count, frames[i], transforms}, b.max_error);
    });
    for (std::int64_t i = 0; i < batch; ++i) {
      const codec::EncodedBlock& e = out[static_cast<std::size_t>(i)];
      writer.add(e);
      coded.max_deviation = std::max(coded.max_deviation, e.max_deviation);
      ++coded.blocks;
      if (e.mode == codec::Mode::pca) ++coded.model_blocks;
    }
    if (progress) {
      progress(ProgressEvent{"coding", std::min(c.frames, first + batch * block_frames), c.frames,
                             false});
    }
  }
  return writer.finish();
}

}  // namespace

Options bounded_analysis(const Options& options, const BoundedOptions& bounded) {
  Options o = options;
  o.choice = {VectorChoice::at_most,
              static_cast<double>(bounded.vectors.value_or(kMaxBoundedVectors))};
  o.kvt6 = false;
  return o;
}

BoundedSummary write_bounded(const Components& c, FrameReader& reader, const std::string& output,
                             const Options& options, const BoundedOptions& b,
                             const ProgressFn& progress) {
  codec::check_max_error(b.max_error);
  if (c.frames > std::numeric_limits<std::int32_t>::max()) {
    die(output + ": a KVT file holds at most 2147483647 snapshots");
  }
  const std::size_t n = c.average.size();
  const std::int64_t block_frames = codec::frames_per_block(c.natoms);
  const std::int64_t sample_frames = std::min(block_frames, c.frames);
  std::vector<float> sample(static_cast<std::size_t>(sample_frames) * n);
  reader.read(0, sample_frames, sample);
  if (progress) progress(ProgressEvent{"choosing the coding plan", 0, 0, false});
  const Choice choice = choose(c, sample, sample_frames, options, b);
  std::vector<float>().swap(sample);

  const auto frames = static_cast<std::int32_t>(c.frames);
  kvtfile kvtf = kvtcreate(kKvtUnit, output, options.title, c.natoms, frames, choice.vectors,
                           static_cast<float>(c.total), c.average);
  for (std::int32_t k = 0; k < choice.vectors; ++k) {
    kvtwrite(kvtf, k + 1, std::span(c.vectors).subspan(k * n, n), c.eigenvalues[k],
             std::span(c.proj).subspan(static_cast<std::size_t>(k) * c.frames, c.frames));
  }
  kvtf.magic = "KVT7";
  kvtf.atoms = options.atoms;
  Coded coded;
  const std::int32_t status = kvtclose(kvtf, [&](std::FILE* file) {
    return code_frames(c, reader, choice, options, b, block_frames, file, coded, progress);
  });
  if (progress) progress(ProgressEvent{"coding", c.frames, c.frames, true});
  if (status != 0) die(output + ": the KVT file could not be written");

  BoundedSummary s;
  s.summary.natoms = c.natoms;
  s.summary.frames = c.frames;
  s.summary.kept = choice.vectors;
  double captured = 0.0;
  for (std::int32_t k = 0; k < choice.vectors; ++k) captured += c.eigenvalues[k];
  s.summary.percent = c.total > 0.0 ? 100.0 * captured / c.total : 100.0;
  s.summary.expected_rmsd = expected_rmsd(c.eigenvalues, c.total, choice.vectors, c.natoms);
  s.summary.bytes = file_size(output).value_or(0);
  s.summary.solver = c.solver;
  s.summary.fit_rounds = c.fit_rounds;
  s.summary.passes = c.passes + 1;
  s.max_error = b.max_error;
  s.max_deviation = coded.max_deviation;
  s.blocks = coded.blocks;
  s.model_blocks = coded.model_blocks;
  return s;
}

BoundedSummary compress_bounded(FrameReader& reader, const std::string& output,
                                const Options& options, const BoundedOptions& bounded,
                                const ProgressFn& progress) {
  codec::check_max_error(bounded.max_error);
  const Components c = analyse(reader, bounded_analysis(options, bounded), progress);
  return write_bounded(c, reader, output, options, bounded, progress);
}

}  // namespace kvtraj::pca

// Projections of any trajectory onto a stored PCA: the engine's own projection pass, with the
// file's average as both the fit reference and the centre.
#include <string>

#include "analysis/analysis.hpp"
#include "pca/blas.hpp"
#include "pca/centre.hpp"
#include "pca/parallel.hpp"
#include "pca/solvers.hpp"
#include "pca/stream.hpp"
#include "support/fatal.hpp"

namespace kvtraj::analysis {
namespace {

// Frames per block hold about this many coordinates (1 MiB): the fit, the centring and the
// product each sweep a block, which then stays in cache instead of coming from memory thrice.
constexpr std::int64_t kBlockValues = std::int64_t{1} << 18;

}  // namespace

VectorSpan checked_span(const kvtfile& kvtf, std::int32_t first, std::int32_t last) {
  if (first < 1 || last < first || last > kvtf.nvecs) {
    die(kvtf.filename + ": vectors " + std::to_string(first) + ":" + std::to_string(last) +
        " are outside the file's 1.." + std::to_string(kvtf.nvecs));
  }
  return {first, last};
}

Projections project(pca::FrameReader& reader, const kvtfile& kvtf, VectorSpan vectors, int threads,
                    bool fit, const pca::ProgressFn& progress) {
  if (reader.natoms() != kvtf.natoms) {
    die(reader.name() + ": " + std::to_string(reader.natoms()) + " atoms, but " + kvtf.filename +
        " holds " + std::to_string(kvtf.natoms));
  }
  vectors = checked_span(kvtf, vectors.first, vectors.last);
  // The pass shares the work out between threads itself, as the engine's passes do.
  pca::set_blas_threads(1);
  pca::Reducer single;
  pca::Cores cores(threads);
  pca::FrameStream stream(reader, 0, reader.frames(), progress, cores, single);
  if (stream.frames() < 1) die(reader.name() + ": no snapshots selected");
  stream.set_block_frames(kBlockValues / stream.coordinates());
  stream.start();
  pca::Centre centre;
  centre.fit = fit;
  centre.reference = kvtf.avg;
  centre.average = kvtf.avg;
  centre.cores = &cores;
  centre.frames = stream.frames();
  const std::size_t n = kvtf.avg.size();
  const std::span<const float> chosen =
      std::span(kvtf.evecs).subspan((vectors.first - 1) * n, vectors.count() * n);
  Projections p;
  p.frames = stream.frames();
  p.vectors = vectors;
  p.values = pca::project(stream, centre, chosen, vectors.count());
  return p;
}

void check_atom_names(std::span<const AtomRecord> a, std::span<const AtomRecord> b,
                      const std::string& a_name, const std::string& b_name) {
  if (a.empty() || b.empty()) return;
  if (a.size() != b.size()) {
    die(a_name + " and " + b_name + " have " + std::to_string(a.size()) + " and " +
        std::to_string(b.size()) + " atoms");
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].name != b[i].name) {
      die(a_name + " and " + b_name + " differ at atom " + std::to_string(i + 1) + ": " +
          a[i].name + " and " + b[i].name);
    }
  }
}

}  // namespace kvtraj::analysis

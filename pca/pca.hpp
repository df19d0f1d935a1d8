// The principal-component engine behind `kvt compress` and the Python package: it streams a
// trajectory block by block, pass after pass (fit rounds onto the average, then the second
// moments or a block Krylov sketch, then the projections), never holding all frames, and writes
// the KVT file. Two solvers: `exact` accumulates the covariance (3N x 3N) or Gram (F x F) matrix
// and factorises it once, both in double precision; `randomized` runs block Lanczos on the centred
// frames until the wanted eigenpairs have converged. Library code: nothing is printed; progress
// goes to a callback and failures end through `die` (support/fatal.hpp).
//
// Every pass is a sum over frames: a process that reads only frames [first, last) computes its
// share, and the `Reducer` is where the shares are summed across processes.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "support/atom_record.hpp"

#pragma GCC visibility push(default)  // the installed interface, exported by shared builds

namespace kvtraj::pca {

// Frames of a trajectory, 3 * natoms reals each, numbered from 0.
class FrameReader {
 public:
  virtual ~FrameReader() = default;
  virtual std::int32_t natoms() const = 0;
  virtual std::int64_t frames() const = 0;
  virtual std::string name() const = 0;
  // Reads frames first .. first + count - 1 into `out` (count * 3 * natoms reals), in order.
  // Called from any of the engine's threads, one call at a time on a given reader.
  virtual void read(std::int64_t first, std::int64_t count, std::span<float> out) = 0;
  // A second reader of the same frames, which another thread reads at the same time as this one
  // (each reads its own contiguous part of the frames front to back); null when the input is
  // not worth opening twice (the default). Called before the threads start.
  virtual std::unique_ptr<FrameReader> another() const { return nullptr; }
  // True when decoding is slow (text formats, albums, strided selections): the first pass then
  // keeps a float copy in a temporary file that later passes read instead.
  virtual bool slow() const { return false; }
  // Something that changes when the input files change (sizes, modification times); compared
  // before every pass. Empty when unknown.
  virtual std::string fingerprint() const { return {}; }

  // Frames prepared with state carried from one frame to the next (atoms kept from jumping
  // across periodic boundaries). A read that does not follow this reader's previous one starts
  // a new chain there, whose frames differ from those of one unbroken run by a constant per
  // coordinate. Such inputs are read once, in parts, into the temporary copy; each part is a
  // chain, corrected by the sum of the seams before it. Chained readers are slow().
  virtual bool chained() const { return false; }
  // After the last read: what the next chain needs of the current one (the same length for
  // every reader of the input).
  virtual std::vector<float> chain_end() const { return {}; }
  // The correction (3N reals) of the current chain relative to the one before it, which ended
  // in `end_before` (chain_end of that chain's reader).
  virtual std::vector<float> seam(std::span<const float> end_before) const {
    (void)end_before;
    return {};
  }
};

// For FrameReader implementations over trajectory names such as "run.dcd(1:500:2)": whether the
// frames decode slowly (AMBER text of reader type `type`, an album, a selection with a stride
// above 1, whose frames are read apart), and a fingerprint of the named file (size and
// modification time; "gone" when it is missing).
bool slow_to_decode(const std::string& name, std::int32_t type, bool album);
std::string file_fingerprint(const std::string& name);

// Sums partial results across processes; the default (one process) leaves them as they are.
class Reducer {
 public:
  virtual ~Reducer() = default;
  virtual void sum(std::span<double> values) { (void)values; }
  virtual void sum(std::span<float> values) { (void)values; }
  // Whether this process holds the first frames of all: the fit starts from its first frame.
  virtual bool leads() const { return true; }
  // This process's place among them: its frames follow those of every lower rank.
  virtual int rank() const { return 0; }
  virtual int size() const { return 1; }
};

// How many vectors to keep.
struct VectorChoice {
  // at_most: K, or all the snapshots hold when they hold fewer
  enum Kind { count, quality, rmsd, at_most } kind = quality;
  double value = 90.0;  // K, a percentage of the variance, or an RMS error in Å
};

enum class Solver { automatic, exact, randomized };
// "auto", "exact" or "randomized", and back (nothing for any other name).
const char* solver_name(Solver solver);
std::optional<Solver> solver_from_name(std::string_view name);

// The iterative fit stops when the average moves by less than this RMS distance (Å) between
// two rounds, or after this many rounds.
inline constexpr double kFitTolerance = 1.0e-4;
inline constexpr int kMaxFitRounds = 10;

struct Options {
  VectorChoice choice;
  bool fit = true;
  Solver solver = Solver::automatic;
  std::int64_t memory_bytes = 0;  // budget for the engine's matrices; 0: a quarter of the RAM
  int threads = 2;                // threads, each with its own part of the frames (see stream.hpp)
  std::int64_t first = 0;         // frames [first, last) are this process's share;
  std::int64_t last = -1;         // last -1: to the end
  std::string title;              // of the KVT file
  bool kvt6 = false;              // 16-bit projections
  // The atoms the fit is computed on, a weight per atom (1 in, 0 out); empty: all atoms. Each
  // frame's rotation and translation apply to all of them.
  std::vector<float> fit_weights;
  // A structure (3N) every frame is fitted onto, once, instead of onto the iterated average.
  std::vector<float> reference;
  // The atoms' identities, stored in the KVT file when there is one per atom.
  std::vector<AtomRecord> atoms;
  // Set by another thread to stop the analysis: it ends through `die` at its next check (every
  // block, and every range of the work inside one); a factorisation runs to its end first.
  const std::atomic<bool>* cancel = nullptr;
};

// One step of progress: the pass ("fit round 2", "covariance", "Krylov pass 3", ...) and the
// frames done out of `total` (0 when a step has no frame count, e.g. a factorisation).
struct ProgressEvent {
  std::string_view pass;
  std::int64_t done = 0;
  std::int64_t total = 0;
  bool finished = false;
};
using ProgressFn = std::function<void(const ProgressEvent&)>;

// The analysis of a trajectory, before it is written.
struct Components {
  std::int32_t natoms = 0;
  std::int64_t frames = 0;        // of all processes
  Solver solver = Solver::exact;  // the one that was used
  int fit_rounds = 0;
  std::vector<float> average;  // 3N
  std::vector<float>
      eigenvalues;     // largest first: all of them (exact), the Ritz values (randomized)
  double total = 0.0;  // total variance: sum of all eigenvalues, from the data
  std::int32_t kept = 0;
  std::vector<float> vectors;  // 3N x kept, column per vector
  std::vector<float> proj;     // this process's frames x kept, column per vector
  int passes = 0;              // passes over the frames
};

Components analyse(FrameReader& reader, const Options& options, const ProgressFn& progress = {},
                   Reducer* reducer = nullptr);

struct Summary {
  std::int32_t natoms = 0;
  std::int64_t frames = 0;
  std::int32_t kept = 0;
  double percent = 0.0;        // of the variance held by the kept vectors
  double expected_rmsd = 0.0;  // Å
  std::uint64_t bytes = 0;     // of the KVT file
  Solver solver = Solver::exact;
  int fit_rounds = 0;
  int passes = 0;
};

// Writes an analysis whose projections cover every frame as the KVT file `output` (complete or
// not at all).
Summary write(const Components& c, const std::string& output, const Options& options,
              const ProgressFn& progress = {});

// Analyses the trajectory and writes the KVT file `output` (complete or not at all).
Summary compress(FrameReader& reader, const std::string& output, const Options& options,
                 const ProgressFn& progress = {});

// ---------------------------------------------------------------- choice of vectors

// The number of eigenvalues (descending) that stand clear of rounding noise.
std::int32_t numeric_rank(std::span<const float> eigenvalues);

// Expected RMS reconstruction error per atom (Å) when the first `kept` vectors are kept:
// the discarded variance spread over the atoms.
double expected_rmsd(std::span<const float> eigenvalues, double total, std::int32_t kept,
                     std::int32_t natoms);

// The number of vectors to keep, at most `rank`; a count above it is fatal.
std::int32_t choose_vectors(std::span<const float> eigenvalues, double total, std::int32_t rank,
                            std::int32_t natoms, const VectorChoice& choice);

}  // namespace kvtraj::pca

#pragma GCC visibility pop

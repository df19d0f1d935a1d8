// The frames a command reads: a trajectory file named with an optional frame selection, or an
// album of files, read through trajsrc; and, with a topology, only the atoms a selection keeps,
// with their periodic images repaired — molecules made whole in every frame, or atoms kept from
// jumping between frames as well (nojump: each displacement taken as the shortest image under
// the current frame's box, so that a changing box does no harm; the first frame's molecules are
// made whole and gathered around the first). The `kvt` program and the Python package both read
// their inputs through it, and the pca engine reads an input through `InputFrames`.
//
// Failures end through `die` with one line naming the file: a missing or unreadable input, a
// topology whose atom count is not the trajectory's, a selection that selects nothing, a repair
// asked of frames without a unit cell.
//
// Threads: an Input is read by one thread at a time; `another` gives a second reader of the
// same frames (sharing the read-only plan) for another thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "pca/pca.hpp"
#include "support/atom_record.hpp"
#include "support/unit_cell.hpp"
#include "topology/periodic.hpp"
#include "topology/topology.hpp"

#pragma GCC visibility push(default)  // the installed interface, exported by shared builds

namespace kvtraj {

// A trajectory file with an optional selection, or an album list, snapshot by snapshot.
// Snapshots are numbered from 1; a snapshot that cannot be read is fatal, never stale data.
class FrameSource {
 public:
  // The reader handle table is reset once per process, before the first source opens.
  static std::unique_ptr<FrameSource> open_file(const std::string& name, std::int32_t natoms);
  static std::unique_ptr<FrameSource> open_album(const std::string& list, std::int32_t natoms);
  virtual ~FrameSource() = default;

  const std::string& name() const { return name_; }
  std::int32_t natoms() const { return natoms_; }
  std::int32_t count() const { return count_; }
  // Reads snapshot i (1..count) into 3 * natoms reals.
  virtual void read(std::int32_t i, std::span<float> coords) = 0;
  // Whether the snapshots carry a unit cell, and the cell of the last snapshot read.
  virtual bool has_box() const = 0;
  virtual UnitCell cell() const = 0;
  // The readers' type code of the file in use.
  virtual std::int32_t type_code() const = 0;
  // Grid steps per nm of an XTC file's first frame; 0 for other formats.
  virtual float xtc_precision() const { return 0.0f; }
  virtual bool is_album() const { return false; }
  // Text formats, albums and strided selections decode slowly: worth a temporary copy, not a
  // second reader.
  bool slow() const;
  // A second reader of the same file; null for slow sources.
  virtual std::unique_ptr<FrameSource> another() const;
  // True when a DCD, binpos or XTC file ends inside a frame after its last whole one.
  bool cut_inside_frame() const { return cut_; }
  // Fatal when the file was cut inside a frame: its frames cannot all be what was written.
  void require_whole() const;

 protected:
  FrameSource(std::string name, std::int32_t natoms, std::int32_t count, bool cut = false)
      : name_(std::move(name)), natoms_(natoms), count_(count), cut_(cut) {}

 private:
  std::string name_;
  std::int32_t natoms_ = 0;
  std::int32_t count_ = 0;
  bool cut_ = false;
};

// What the user named: the trajectory and, optionally, a topology, a selection and a repair.
struct InputOptions {
  std::string trajectory;  // a name with an optional frame selection, or an album list
  bool album = false;
  std::int32_t natoms = 0;     // for formats that do not record it; 0: the file's
  std::string topology;        // "" for none
  std::string index;           // .ndx file whose groups selections name; "" for none
  std::string select;          // "" for every atom
  std::optional<PbcMode> pbc;  // nothing: `default_pbc`
  PbcMode default_pbc = PbcMode::none;
  // Whether `default_pbc` stands only with a topology and frames that carry cells (otherwise
  // none), as for compression.
  bool default_needs_cells = false;
};

// "none", "whole" or "nojump", and back.
std::optional<PbcMode> pbc_from_name(std::string_view name);
const char* pbc_name(PbcMode mode);

// The earliest frame any reader of an input found holding molecules of the selection split
// across the box edges, and how many: readers on threads see frames out of order, and the warning
// names the first one whichever thread saw it.
class SplitWatch {
 public:
  bool worth_checking(std::int32_t i) const { return i < first_.load(); }
  void note(std::int32_t i, std::int32_t molecules);
  // The frame (0 for none) and its count of split molecules.
  std::pair<std::int32_t, std::int32_t> first() const;

 private:
  mutable std::mutex mutex_;
  std::atomic<std::int32_t> first_{std::numeric_limits<std::int32_t>::max()};
  std::int32_t molecules_ = 0;
};

// What every frame of an input keeps and how its images are repaired; shared, read-only, by
// every reader of the input.
struct FramePlan {
  std::int32_t file_atoms = 0;
  std::vector<std::int32_t> kept;  // ascending 0-based atoms of the file
  bool all_kept = true;
  PbcMode pbc = PbcMode::none;
  std::optional<Topology> topology;
  IndexGroups groups;
  // Those holding kept atoms: what the repair makes whole, or, without one, what is watched for
  // molecules split across the box edges (one warning for the input, when it closes).
  std::optional<Molecules> molecules;
  mutable SplitWatch split;

  // The topology's atoms of `text` (same language as --select), fatal when there is none.
  std::vector<std::int32_t> select(std::string_view text) const;
};

class Input {
 public:
  // Opens the trajectory and the topology, checks that they agree, and reads the selection.
  static std::unique_ptr<Input> open(const InputOptions& options);
  ~Input();

  const std::string& name() const { return source_->name(); }
  std::int32_t natoms() const { return static_cast<std::int32_t>(plan_->kept.size()); }
  std::int32_t count() const { return source_->count(); }
  const FramePlan& plan() const { return *plan_; }
  FrameSource& source() { return *source_; }
  const FrameSource& source() const { return *source_; }
  // The kept atoms' identities; empty without a topology.
  std::vector<AtomRecord> records() const;
  // "4913 atoms", or "200 of 4913 atoms selected, periodic images: nojump".
  std::string describe() const;

  // Snapshot i (1..count): the kept atoms' coordinates after the repair.
  void read(std::int32_t i, std::span<float> coords);
  bool has_box() const { return source_->has_box(); }
  UnitCell cell() const { return source_->cell(); }

  // Whether frames need more than the file's own decoding (a selection, a repair).
  bool prepared() const { return !plan_->all_kept || plan_->pbc != PbcMode::none; }
  // A second reader of the same frames with the same plan; null when the source is slow.
  std::unique_ptr<Input> another() const;

  // Chains of nojump frames (see pca::FrameReader::chained): the kept atoms as repaired, then
  // as read, in the last frame read; and the correction of the current chain.
  std::vector<float> chain_end() const;
  std::vector<float> seam(std::span<const float> end_before) const;

 private:
  Input(std::shared_ptr<const FramePlan> plan, std::unique_ptr<FrameSource> source, bool opened);
  void watch_split(std::int32_t i, std::span<const float> frame) const;
  void repair(std::int32_t i, std::span<float> coords);

  std::shared_ptr<const FramePlan> plan_;
  std::unique_ptr<FrameSource> source_;
  bool opened_;  // made by open (not another): it outlives the others and gives the warning
  std::vector<float> frame_;  // the whole file's frame
  std::int32_t loaded_ = 0;   // the snapshot frame_ holds as read; 0 for none
  // nojump: the kept atoms as read in the previous frame, as repaired, and the chain's start.
  std::int32_t next_ = 0;  // the frame that continues the chain; 0 before any
  std::vector<float> previous_, unwrapped_;
  std::vector<float> start_read_, start_repaired_;
  UnitCell start_cell_;
};

// An input as the engine's FrameReader (frames from 0): slow when prepared, chained for nojump.
class InputFrames final : public pca::FrameReader {
 public:
  explicit InputFrames(Input& input) : input_(input) {}
  explicit InputFrames(std::unique_ptr<Input> owned) : owned_(std::move(owned)), input_(*owned_) {}
  std::int32_t natoms() const override { return input_.natoms(); }
  std::int64_t frames() const override { return input_.count(); }
  std::string name() const override { return input_.name(); }
  void read(std::int64_t first, std::int64_t count, std::span<float> out) override;
  std::unique_ptr<pca::FrameReader> another() const override;
  bool slow() const override { return input_.source().slow() || input_.prepared(); }
  std::string fingerprint() const override;
  bool chained() const override { return input_.plan().pbc == PbcMode::nojump; }
  std::vector<float> chain_end() const override { return input_.chain_end(); }
  std::vector<float> seam(std::span<const float> end_before) const override {
    return input_.seam(end_before);
  }

 private:
  std::unique_ptr<Input> owned_;
  Input& input_;
};

// The fit group of --fit-select as engine weights over the kept atoms (1 in, 0 out): fatal when
// it holds atoms that are not kept.
std::vector<float> fit_weights(const FramePlan& plan, std::string_view text);
// The kept atoms' coordinates in a PDB or GRO structure of the topology's atoms (--ref), made
// whole like the frames when images are repaired and the structure has a cell.
std::vector<float> reference_structure(const FramePlan& plan, const std::string& path);

// Stored atoms [first, first + count) of one residue.
struct AtomRun {
  std::int32_t first = 0;
  std::int32_t count = 0;
};
// The solvent among the stored atoms, one run per residue: those of `selection` (fatal when it
// selects nothing), or by default water and monatomic ions by residue name (SOL, WAT, HOH,
// TIP3, NA, CL, ...). None without a topology.
std::vector<AtomRun> solvent_runs(const FramePlan& plan,
                                  std::optional<std::string_view> selection = std::nullopt);

}  // namespace kvtraj

#pragma GCC visibility pop

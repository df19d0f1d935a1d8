// Opening an input (trajectory, topology, selection, the choice of repair) and reading its frames
// through the repair: molecules made whole, and for nojump the chain of frames in which every
// kept atom moves by the shortest image of its displacement.
#include <algorithm>
#include <exception>
#include <numeric>

#include "frames/frames.hpp"
#include "support/fatal.hpp"
#include "support/messages.hpp"
#include "topology/selection.hpp"

namespace kvtraj {
namespace {

std::unique_ptr<FrameSource> open_source(const InputOptions& o) {
  return o.album ? FrameSource::open_album(o.trajectory, o.natoms)
                 : FrameSource::open_file(o.trajectory, o.natoms);
}

PbcMode choose_pbc(const InputOptions& o, bool topology, bool cells) {
  if (o.pbc) return *o.pbc;
  if (o.default_needs_cells && !(topology && cells)) return PbcMode::none;
  return o.default_pbc;
}

// The bonds molecules are made of: the topology's, or guessed from the first frame, only those of
// the molecules that hold kept atoms.
std::vector<Bond> bonds_of(const FramePlan& plan, std::span<const float> frame,
                           const UnitCell& cell, bool has_box) {
  const Topology& top = *plan.topology;
  if (top.has_bonds) return top.bonds;
  const PeriodicBox box(cell);
  const std::span<const std::int32_t> around =
      plan.all_kept ? std::span<const std::int32_t>() : plan.kept;
  return guess_bonds(top, frame, has_box && box.valid() ? &box : nullptr, around);
}

// The molecules of the selection split across the box edges in a frame.
std::int32_t split_molecules(const Molecules& molecules, std::span<const float> frame,
                             const PeriodicBox& box) {
  std::int32_t split = 0;
  for (std::int32_t m = 0; m < molecules.count(); ++m) {
    if (looks_split(molecules, m, frame, box)) ++split;
  }
  return split;
}

void extract(std::span<const std::int32_t> atoms, std::span<const float> frame,
             std::span<float> out) {
  float* to = out.data();
  for (const std::int32_t a : atoms) {
    const float* from = frame.data() + 3 * static_cast<std::size_t>(a);
    *to++ = from[0];
    *to++ = from[1];
    *to++ = from[2];
  }
}

}  // namespace

std::optional<PbcMode> pbc_from_name(std::string_view name) {
  if (name == "none") return PbcMode::none;
  if (name == "whole") return PbcMode::whole;
  if (name == "nojump") return PbcMode::nojump;
  return std::nullopt;
}

const char* pbc_name(PbcMode mode) {
  switch (mode) {
    case PbcMode::whole:
      return "whole";
    case PbcMode::nojump:
      return "nojump";
    case PbcMode::none:
      break;
  }
  return "none";
}

std::vector<std::int32_t> FramePlan::select(std::string_view text) const {
  if (!topology) die("a selection needs a topology");
  return select_atoms(*topology, text, &groups);
}

void SplitWatch::note(std::int32_t i, std::int32_t molecules) {
  const std::lock_guard lock(mutex_);
  if (i >= first_.load()) return;
  first_ = i;
  molecules_ = molecules;
}

std::pair<std::int32_t, std::int32_t> SplitWatch::first() const {
  const std::lock_guard lock(mutex_);
  const std::int32_t i = first_.load();
  return {i == std::numeric_limits<std::int32_t>::max() ? 0 : i, molecules_};
}

Input::Input(std::shared_ptr<const FramePlan> plan, std::unique_ptr<FrameSource> source,
             bool opened)
    : plan_(std::move(plan)), source_(std::move(source)), opened_(opened) {}

// Without a repair, one warning for the input, unless it closes on an error.
Input::~Input() {
  if (!opened_ || std::uncaught_exceptions() > 0) return;
  const auto [i, split] = plan_->split.first();
  if (i == 0) return;
  warn(name() + ": snapshot " + std::to_string(i) + " holds " + std::to_string(split) +
       (split == 1 ? " molecule" : " molecules") +
       " of the selection split across the box edges; --pbc whole or nojump repairs them");
}

void Input::watch_split(std::int32_t i, std::span<const float> frame) const {
  if (plan_->pbc != PbcMode::none || !plan_->molecules || !plan_->split.worth_checking(i)) return;
  const PeriodicBox box(source_->cell());
  if (!box.valid()) return;
  const std::int32_t split = split_molecules(*plan_->molecules, frame, box);
  if (split > 0) plan_->split.note(i, split);
}

std::unique_ptr<Input> Input::open(const InputOptions& o) {
  std::unique_ptr<FrameSource> source = open_source(o);
  auto plan = std::make_shared<FramePlan>();
  plan->file_atoms = source->natoms();
  if (!o.topology.empty()) {
    plan->topology = read_topology(o.topology);
    if (plan->topology->natoms() != source->natoms()) {
      die(o.topology + ": " + std::to_string(plan->topology->natoms()) + " atoms, but " +
          source->name() + " holds " + std::to_string(source->natoms()) + " in a frame");
    }
  }
  if (!o.index.empty()) plan->groups = read_index_groups(o.index, source->natoms());
  if (!o.select.empty()) {
    plan->kept = plan->select(o.select);
  } else {
    plan->kept.resize(static_cast<std::size_t>(source->natoms()));
    std::iota(plan->kept.begin(), plan->kept.end(), 0);
  }
  plan->all_kept = plan->kept.size() == static_cast<std::size_t>(source->natoms());

  // The first frame tells whether the frames carry cells, and gives guessed bonds their
  // distances; it stays loaded for the first read.
  std::vector<float> first(3 * static_cast<std::size_t>(source->natoms()));
  const bool topology = plan->topology.has_value();
  if (topology && source->count() > 0) source->read(1, first);
  const bool cells = source->has_box() && PeriodicBox(source->cell()).valid();
  plan->pbc = choose_pbc(o, topology, cells);
  if (plan->pbc != PbcMode::none) {
    const char* mode = pbc_name(plan->pbc);
    if (!topology) die(std::string("--pbc ") + mode + " needs a topology: molecules are its bonds");
    if (!cells) {
      die(source->name() + ": --pbc " + mode +
          " needs frames with a unit cell, and these have none");
    }
  }
  // Without a repair the molecules only serve the warning about split ones.
  if (topology && (plan->pbc != PbcMode::none || cells)) {
    const auto bonds = bonds_of(*plan, first, source->cell(), cells);
    plan->molecules.emplace(source->natoms(), bonds, plan->kept);
  }

  auto input = std::unique_ptr<Input>(new Input(std::move(plan), std::move(source), true));
  if (topology && input->count() > 0) {
    input->frame_ = std::move(first);
    input->loaded_ = 1;
  }
  return input;
}

std::vector<AtomRecord> Input::records() const {
  if (!plan_->topology) return {};
  return plan_->topology->records(plan_->kept);
}

std::string Input::describe() const {
  std::string text = std::to_string(natoms());
  if (!plan_->all_kept) text += " of " + std::to_string(plan_->file_atoms);
  text += plan_->all_kept ? " atoms" : " atoms selected";
  if (plan_->pbc != PbcMode::none)
    text += std::string(", periodic images: ") + pbc_name(plan_->pbc);
  return text;
}

std::unique_ptr<Input> Input::another() const {
  std::unique_ptr<FrameSource> source = source_->another();
  if (!source) return nullptr;
  return std::unique_ptr<Input>(new Input(plan_, std::move(source), false));
}

void Input::read(std::int32_t i, std::span<float> coords) {
  if (!prepared()) {
    source_->read(i, coords);
    watch_split(i, coords);
    return;
  }
  if (loaded_ != i) {
    frame_.resize(3 * static_cast<std::size_t>(plan_->file_atoms));
    source_->read(i, frame_);
  }
  loaded_ = 0;  // the repair works on frame_ in place
  if (plan_->pbc == PbcMode::none) {
    watch_split(i, frame_);
    extract(plan_->kept, frame_, coords);
  } else {
    repair(i, coords);
  }
}

void Input::repair(std::int32_t i, std::span<float> coords) {
  const UnitCell cell = source_->cell();
  const PeriodicBox box(cell);
  if (!box.valid()) {
    die(name() + ": snapshot " + std::to_string(i) + " has no valid unit cell for --pbc " +
        pbc_name(plan_->pbc));
  }
  const Molecules& molecules = *plan_->molecules;
  if (plan_->pbc == PbcMode::whole) {
    make_whole(molecules, frame_, box);
    extract(plan_->kept, frame_, coords);
    return;
  }
  const std::size_t n = 3 * plan_->kept.size();
  if (i != next_) {
    // A new chain: its first frame made whole and gathered.
    start_read_.resize(n);
    extract(plan_->kept, frame_, start_read_);
    make_whole(molecules, frame_, box);
    gather(molecules, frame_, box);
    unwrapped_.resize(n);
    extract(plan_->kept, frame_, unwrapped_);
    previous_ = start_read_;
    start_repaired_ = unwrapped_;
    start_cell_ = cell;
  } else {
    step_unwrapped(plan_->kept, frame_, box, previous_, unwrapped_);
  }
  next_ = i + 1;
  std::copy(unwrapped_.begin(), unwrapped_.end(), coords.begin());
}

std::vector<float> Input::chain_end() const {
  std::vector<float> end = unwrapped_;
  end.insert(end.end(), previous_.begin(), previous_.end());
  return end;
}

std::vector<float> Input::seam(std::span<const float> end_before) const {
  const std::size_t n = start_read_.size();
  std::vector<float> shift(n, 0.0f);
  if (end_before.size() != 2 * n) return shift;
  const PeriodicBox box(start_cell_);
  for (std::size_t k = 0; k < n; k += 3) {
    std::array<double, 3> d{};
    for (std::size_t c = 0; c < 3; ++c) {
      d[c] = static_cast<double>(start_read_[k + c]) - end_before[n + k + c];
    }
    const std::array<double, 3> step = box.shortest(d);
    for (std::size_t c = 0; c < 3; ++c) {
      shift[k + c] = static_cast<float>(end_before[k + c] + step[c] - start_repaired_[k + c]);
    }
  }
  return shift;
}

}  // namespace kvtraj

// Trajectory files and albums read through trajsrc, with the unit cell of each snapshot.
#include <algorithm>
#include <array>

#include "fmtreaders/fmtreaders.hpp"
#include "frames/coded_source.hpp"
#include "frames/frames.hpp"
#include "support/fatal.hpp"
#include "trajsrc/trajsrc.hpp"

namespace kvtraj {
namespace {

// The reader handle table is reset once, before the first source opens: a later open (another
// reader of the same file for a second thread) must leave the open handles alone.
void init_readers_once() {
  static const bool done = (f77_molfile_init(), true);
  (void)done;
}

// The unit cell of a reader's box: DCD files hold (a, cos γ, b, cos β, cos α, c); AMBER box
// lines, binpos boxes and the XTC, TRR and NetCDF readers give a, b, c and the angles.
UnitCell cell_of(std::int32_t handle, const std::array<float, 6>& box) {
  const std::int32_t type = f77_molfile_type(handle);
  const bool dcd = type >= kTypeDcd && type <= kTypeDcd64Cell;
  return dcd ? cell_from_dcd(box) : cell_from_lengths(box);
}

void check_snapshot(std::int32_t status, std::int32_t i, const std::string& name) {
  if (status != 0) die(name + ": snapshot " + std::to_string(i) + " could not be read");
}

class FileSource final : public FrameSource {
 public:
  // Right after xopen the reader stands after the last whole frame it counted.
  FileSource(const std::string& name, trajectory traj)
      : FrameSource(name, traj.natoms, traj.nsnaps, f77_molfile_cut_inside_frame(traj.unit)),
        traj_(std::move(traj)) {}
  ~FileSource() override { xclose(traj_); }

  void read(std::int32_t i, std::span<float> coords) override {
    xsnap(traj_, coords, i);
    check_snapshot(traj_.status, i, name());
  }
  bool has_box() const override { return f77_molfile_has_box(traj_.unit); }
  UnitCell cell() const override { return cell_of(traj_.unit, traj_.box); }
  std::int32_t type_code() const override { return f77_molfile_type(traj_.unit); }
  float xtc_precision() const override { return f77_molfile_xtc_precision(traj_.unit); }
  // The second reader takes this one's count instead of counting the frames again (a pass over
  // the whole file): its record starts closed, and its first read opens the file as xsnap opens
  // a closed record. Its type, box and cell are known from that read on, when they are asked.
  std::unique_ptr<FrameSource> another() const override {
    if (slow()) return nullptr;
    trajectory closed = traj_;
    closed.unit = 0;
    return std::make_unique<FileSource>(name(), std::move(closed));
  }

 private:
  trajectory traj_;
};

class AlbumSource final : public FrameSource {
 public:
  AlbumSource(const std::string& name, std::unique_ptr<album> alb)
      : FrameSource(name, alb->natoms, alb->total), album_(std::move(alb)) {}
  ~AlbumSource() override { xclose(album_->active); }

  void read(std::int32_t i, std::span<float> coords) override {
    xalbsnap(*album_, coords, i);
    check_snapshot(album_->status, i, name());
  }
  bool has_box() const override { return f77_molfile_has_box(album_->active.unit); }
  UnitCell cell() const override { return cell_of(album_->active.unit, album_->active.box); }
  std::int32_t type_code() const override { return f77_molfile_type(album_->active.unit); }
  bool is_album() const override { return true; }

 private:
  std::unique_ptr<album> album_;
};

void check_atoms(std::int32_t natoms, const std::string& name) {
  if (natoms < 1) die(name + ": the number of atoms is not known; give it with --natoms");
}

}  // namespace

std::unique_ptr<FrameSource> FrameSource::open_file(const std::string& name, std::int32_t natoms) {
  init_readers_once();
  if (is_coded_file(name)) return open_coded_file(name);
  trajectory traj = xopen(name, natoms);
  traj.natoms = std::max(traj.natoms, natoms);
  check_atoms(traj.natoms, name);
  return std::make_unique<FileSource>(name, std::move(traj));
}

std::unique_ptr<FrameSource> FrameSource::open_album(const std::string& list, std::int32_t natoms) {
  init_readers_once();
  constexpr std::int32_t kListUnit = 10;
  auto alb = std::make_unique<album>(xalbopen(kListUnit, list, natoms));
  if (alb->status != 0) die(list + ": the album could not be opened");
  alb->natoms = std::max(alb->natoms, natoms);
  check_atoms(alb->natoms, list);
  return std::make_unique<AlbumSource>(list, std::move(alb));
}

void FrameSource::require_whole() const {
  if (cut_) die(name_ + ": the file ends inside a frame (truncated?)");
}

bool FrameSource::slow() const {
  return pca::slow_to_decode(name_, type_code(), is_album());
}

std::unique_ptr<FrameSource> FrameSource::another() const {
  if (slow()) return nullptr;
  return open_file(name_, natoms_);
}

}  // namespace kvtraj

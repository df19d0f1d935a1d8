// Inside the extension: a trajectory or album opened through trajsrc, read snapshot by snapshot.
// Opening and reading fail through `die` (a kvtraj.Error in Python); xopen and xalbopen give
// their reader handles back when they fail.
#pragma once

#include <algorithm>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "fmtreaders/fmtreaders.hpp"
#include "support/fatal.hpp"
#include "trajsrc/trajsrc.hpp"

namespace kvtraj::python {

// An open trajectory or album; its reader handle is released however the reading ends, since
// the process has only 50 of them.
class Source {
 public:
  Source(const std::string& name, std::optional<std::int32_t> natoms, bool is_album) {
    std::int32_t n = natoms.value_or(0);
    if (is_album) {
      album_ = std::make_unique<album>(xalbopen(0, name, n));
    } else {
      traj_ = xopen(name, n);
    }
    total_ = album_ ? album_->total : traj_.nsnaps;
    natoms_ = n;
  }
  ~Source() { close(); }
  Source(const Source&) = delete;
  Source& operator=(const Source&) = delete;

  void close() {
    if (album_) xclose(album_->active);
    xclose(traj_);
  }
  std::int32_t natoms() const { return natoms_; }
  std::int32_t nframes() const { return total_; }
  const std::string& name() const { return album_ ? album_->name : traj_.name; }
  bool is_album() const { return album_ != nullptr; }
  // The readers' type code of the file in use.
  std::int32_t type_code() const {
    return f77_molfile_type(album_ ? album_->active.unit : traj_.unit);
  }

  // Snapshot i (1-based) into coords (3N) and its box into box (6).
  void read(std::int32_t i, float* coords, float* box) {
    const std::span<float> out(coords, 3 * static_cast<std::size_t>(natoms_));
    trajectory& t = album_ ? album_->active : traj_;
    if (album_) {
      xalbsnap(*album_, out, i);
    } else {
      xsnap(traj_, out, i);
    }
    if (t.status != 0) die(name() + ": cannot read snapshot " + std::to_string(i));
    std::copy(t.box.begin(), t.box.end(), box);
  }

 private:
  trajectory traj_;
  std::unique_ptr<album> album_;
  std::int32_t natoms_ = 0, total_ = 0;
};

}  // namespace kvtraj::python

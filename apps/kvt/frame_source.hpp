// The input trajectory of a command: one file given by a name that may carry a frame selection
// (read through xopen/xsnap), or an album list (xalbopen/xalbsnap). Snapshots are numbered from
// 1 within the selection; a snapshot that cannot be read is an error, never stale coordinates.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "fmtwriters/fmtwriters.hpp"

namespace kvtraj::app {

class FrameSource {
 public:
  // Opens the trajectory named by -i, or the album named by --album; --natoms gives the atom
  // count for formats that do not record it.
  static std::unique_ptr<FrameSource> from_options();
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
  // True when a DCD, binpos or XTC file ends inside a frame after its last whole one.
  bool cut_inside_frame() const { return cut_; }
  // Fails when the file was cut inside a frame: its frames cannot all be what was written.
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

}  // namespace kvtraj::app

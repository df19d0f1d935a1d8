// Inside the format readers: the frame-reader interface that every format implements, the slot
// access that the DCD entry points share with the handle table, and the openers of each format.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "fmtreaders/binary_file.hpp"
#include "fmtreaders/fmtreaders.hpp"
#include "support/fortran_input.hpp"
#include "support/messages.hpp"

namespace kvtraj::readers {

// Reports why a file is refused; false, for the caller to return.
inline bool refuse(std::string_view reason) {
  report_error(reason);
  return false;
}

// One open trajectory file, positioned before its next frame.
class FrameReader {
 public:
  virtual ~FrameReader() = default;
  // Reads one frame of `natoms` atoms into coords (and box where the format has one):
  // kIoOk, kIoEnd when no frame is left, or a positive status when the frame cannot be read
  // whole or does not match natoms.
  virtual int read(std::int32_t natoms, std::span<float> coords, std::span<float> box) = 0;
  // Passes over up to `count` frames; returns how many were passed. By default each frame is
  // read into scratch storage, so that a frame that fails to read ends the skipping.
  virtual std::int64_t skip(std::int32_t natoms, std::int64_t count);
  // Puts the file back before its first frame, as a fresh open leaves it; false when the
  // format cannot (the reader is then not kept for reuse).
  virtual bool rewind() { return false; }
  // The atom count the file records (0 for formats without one).
  virtual std::int32_t file_atoms() const { return 0; }
  // Grid steps per nm of the first frame of an XTC file; 0 for other formats.
  virtual float precision() const { return 0.0f; }
  // True when, after the last frame that reads whole, bytes are left that do not make one: the
  // file was cut inside a frame (or, for DCD, a frame's records are damaged). Formats without
  // fixed-size frames cannot tell and answer false.
  virtual bool cut_inside_frame() const { return false; }
  // True when the file's frames carry a box, for formats whose type code does not say.
  virtual bool has_box() const { return false; }

 private:
  std::vector<float> scratch_;
};

// A reader of a format whose frames all hold the atom count the file records (XTC, TRR,
// NetCDF): callers that ask for another count get no frames.
class FixedAtomsReader : public FrameReader {
 public:
  std::int32_t file_atoms() const final { return natoms_; }

 protected:
  // Whether a read of `natoms` atoms into these arrays fits the file's frames (a box of six
  // values when `with_box`).
  bool fits(std::int32_t natoms, std::span<const float> coords, std::span<const float> box,
            bool with_box) const {
    return natoms == natoms_ && coords.size() >= 3 * static_cast<std::size_t>(natoms_) &&
           (!with_box || box.size() >= 6);
  }
  // Whether skipping `count` frames of `natoms` atoms can pass any.
  bool can_skip(std::int32_t natoms, std::int64_t count) const {
    return natoms == natoms_ && count >= 1;
  }

  std::int32_t natoms_ = 0;  // set once the file's first frame or header is read
};

// The reader installed for an open handle, or null (free slot, handle outside 51..100).
FrameReader* reader_of(std::int32_t handle);
// Gives the slot of `handle` its reader.
void install_reader(std::int32_t handle, std::unique_ptr<FrameReader> reader);
// Frees the slot of `handle`: reader released, slot and type entries 0.
void release_slot(std::int32_t handle);
// Type entry of `handle` in the table; handle must be 51..100.
std::int32_t& type_entry(std::int32_t handle);

// Openers (they write their own messages). AMBER and binpos failures end the program.
std::unique_ptr<FrameReader> open_amber(const std::string& path, bool with_box);
std::unique_ptr<FrameReader> open_amber(std::unique_ptr<RecordReader> records, bool with_box);
// Checks the magic and the first frame (fatal when they are bad), probes for a box and leaves
// the file before its first frame. The messages are the caller's.
std::unique_ptr<FrameReader> open_binpos(const std::string& path, std::int32_t& file_natoms,
                                         bool& with_box);
std::unique_ptr<FrameReader> open_binpos(BinaryFile file, std::int32_t& file_natoms,
                                         bool& with_box);
// A DCD reader over `file` once its header is read: type (5 to 8) and natoms set. Null, with
// the reason reported, when the header is refused.
std::unique_ptr<FrameReader> dcd_reader(BinaryFile file, std::int32_t& type, std::int32_t& natoms);
// Reads the first frame header (type: single or double precision code); null, with the reason
// reported, when it is refused.
std::unique_ptr<FrameReader> open_trr(const std::string& path, std::int32_t& file_natoms,
                                      std::int32_t& type);
std::unique_ptr<FrameReader> trr_reader(BinaryFile file, std::int32_t& type, std::int32_t& natoms);
// Checks the AMBER conventions of a NetCDF file; null, with the reason reported, when they do
// not hold. Classic-format files are read by kvtraj itself; others go to open_netcdf_library.
std::unique_ptr<FrameReader> open_netcdf(const std::string& path, std::int32_t& file_natoms,
                                         std::int32_t& type);
// The reader of the classic-format file `file` (type: kTypeNetcdf); null, with the reason
// reported, when its header or the convention is refused.
std::unique_ptr<FrameReader> netcdf_reader(BinaryFile file, std::int32_t& type,
                                           std::int32_t& natoms);
// An HDF5-based (NetCDF-4) file through the NetCDF library; refused when this build has none.
std::unique_ptr<FrameReader> open_netcdf_library(const std::string& path, std::int32_t& file_natoms,
                                                 std::int32_t& type);

// Checks the first frame's header (type: kTypeXtc); null, with the reason reported, when it is
// refused.
std::unique_ptr<FrameReader> open_xtc(const std::string& path, std::int32_t& file_natoms,
                                      std::int32_t& type);
std::unique_ptr<FrameReader> xtc_reader(BinaryFile file, std::int32_t& type, std::int32_t& natoms);

}  // namespace kvtraj::readers

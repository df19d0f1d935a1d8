// Trajectory format readers: the table of open reader handles (`handcom`, handles 51 to 100)
// behind the `f77_molfile_*` calls, and the readers of AMBER formatted coordinates (crd,
// crdbox), binpos and DCD files. A handle names one open file from open to close; each read
// delivers one frame of 3 × natoms coordinates (x, y, z per atom) and, for the formats that carry
// one, a box of six values.
//
// Files are untrusted: counts read from a file are checked against the file's size before
// anything is allocated, every DCD record is checked against both of its length markers, and a
// frame that cannot be read whole is reported as not read (never delivered half-filled).
// Messages go through the message sink (by default standard output); conditions that end the
// program go through `die`.
//
// Threads: the handle table is one process-wide state. Opens and closes (and init) take a lock;
// reads and skips of different handles may run at once, each handle on one thread at a time.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#pragma GCC visibility push(default)  // the installed interface, exported by shared builds

namespace kvtraj {

// ---------------------------------------------------------------- the handle table

inline constexpr std::int32_t kFirstHandle = 51;
inline constexpr std::int32_t kLastHandle = 100;
inline constexpr std::int32_t kHandleSlots = 50;

// Type codes of the table's type half.
inline constexpr std::int32_t kTypeNone = 0;
inline constexpr std::int32_t kTypeCrd = 1;         // AMBER formatted, no box line
inline constexpr std::int32_t kTypeCrdBox = 2;      // AMBER formatted, a box line per frame
inline constexpr std::int32_t kTypeBinpos = 3;      // binpos without box
inline constexpr std::int32_t kTypeBinposBox = 4;   // binpos, six box reals per frame
inline constexpr std::int32_t kTypeDcd = 5;         // DCD, 4-byte markers, no unit cell
inline constexpr std::int32_t kTypeDcd64 = 6;       // DCD, 8-byte markers, no unit cell
inline constexpr std::int32_t kTypeDcdCell = 7;     // DCD, 4-byte markers, unit cell per frame
inline constexpr std::int32_t kTypeDcd64Cell = 8;   // DCD, 8-byte markers, unit cell per frame
inline constexpr std::int32_t kTypeXtc = 9;         // GROMACS XTC, box per frame
inline constexpr std::int32_t kTypeTrr = 10;        // GROMACS TRR, single precision
inline constexpr std::int32_t kTypeTrrDouble = 11;  // GROMACS TRR, double precision
inline constexpr std::int32_t kTypeNetcdf = 12;     // AMBER NetCDF trajectory

// `handcom`: entries 1..50 (index 0..49) hold the handle of each slot or 0 when it is free;
// entries 51..100 (index 50..99) the type code of the file in each slot.
std::array<std::int32_t, 100>& handcom();

// Empties the table (and releases the readers of files still open).
void f77_molfile_init();

// Opens `filename` as `filetype` ("auto", "crd", "crdbox", "binpos" or "dcd"; also "xtc", "trr",
// "nc" and "ncdf"; "auto" takes the type from the text after the first "." of the file name).
// handle is 51..100 on success, −1 when the type is not recognised or the DCD, XTC, TRR or NetCDF
// header is refused. natoms comes back as the file's count for binpos, DCD, XTC, TRR and NetCDF,
// 0 for AMBER files. A missing file and a 51st open are fatal.
void f77_molfile_open_read(std::int32_t& handle, std::int32_t& natoms, std::string_view filename,
                           std::string_view filetype);

// Reads the next frame: coords (at least 3 × natoms values) and box (six values, filled for
// the formats with a box). status is 1 for a frame read and 0 for none: end of file, a read
// error, a frame whose layout disagrees with natoms, too small arrays or an invalid handle.
void f77_molfile_read_next(std::int32_t handle, std::int32_t natoms, std::span<float> coords,
                           std::span<float> box, std::int32_t& status);

// Passes over up to `count` frames without delivering them (binary formats seek over them);
// returns the number of frames passed, fewer when the file ends or a frame cannot be read.
std::int64_t f77_molfile_skip_next(std::int32_t handle, std::int32_t natoms, std::int64_t count);

// Closes the file and frees its slot; handles outside 51..100 are ignored. status is always 0.
void f77_molfile_close_read(std::int32_t handle, std::int32_t& status);

// The handle's type code from the table (0 for a free slot or a handle outside 51..100).
std::int32_t f77_molfile_type(std::int32_t handle);
// True when the frames of this handle carry a box (types 2, 4, 7, 8 and 9; TRR and NetCDF files
// that hold one).
bool f77_molfile_has_box(std::int32_t handle);
// True when the binary trajectory of this handle, read or passed up to its last whole frame,
// goes on with bytes that make no whole frame: a truncated file, or for DCD a frame whose
// records are damaged. False for text formats and free handles.
bool f77_molfile_cut_inside_frame(std::int32_t handle);

// Grid steps per nm of the first frame of the XTC file of this handle; 0 for other formats
// and for XTC files of at most nine atoms (stored as plain floats).
float f77_molfile_xtc_precision(std::int32_t handle);

// ---------------------------------------------------------------- DCD

// Opens `filename` for raw byte reading on `handle` (a slot taken by f77_molfile_open_read, of
// type 5) and reads its header through readdcdheader. On failure handle becomes −1 and the
// slot is freed.
void dcdopen(std::int32_t& handle, std::string_view filename, std::int32_t& natoms);

// Reads and checks the header of the file open on `handle`: marker size, "CORD", fixed atoms,
// version, unit-cell flag, extra dimension, titles and natoms. Sets the type code (5 to 8) and
// returns the file's natoms; on failure writes the reason, closes, frees the slot and sets
// handle to −1.
void readdcdheader(std::int32_t& handle, std::int32_t& natoms);

// Reads one frame: the unit-cell record (six 64-bit reals, stored into box as 32-bit reals in
// file order) for types 7 and 8, then the x, y and z records. status 0 on success; −1 at end of
// file before the frame; −2 (with "Error - unrecognised dcd file type") for a handle whose type
// is not 5..8; 1 for a truncated frame, a record whose markers disagree with natoms, or arrays
// too small for the frame.
void dcdreadnext(std::int32_t handle, std::span<float> coords, std::int32_t natoms,
                 std::span<float> box, std::int32_t& status);

// ---------------------------------------------------------------- TRR frames with their stamps

// One frame of a TRR file as stored, with the stamps that the trajectory readers drop: for files
// whose frames are not a trajectory (the eigenvectors that gmx covar writes).
struct TrrFrame {
  std::int32_t step = 0;
  double time = 0.0;
  double lambda = 0.0;
  std::int32_t natoms = 0;
  std::vector<float> x;  // 3 natoms coordinates in nm, as stored; empty when the frame has none
};

// The frames of a TRR file one by one, each header checked as the trajectory reader checks it
// (block sizes, one precision for the whole file, blocks inside the file).
class TrrFrames {
 public:
  // Null, with the reason reported, when the file is missing or its first header is refused.
  static std::unique_ptr<TrrFrames> open(const std::string& path);
  ~TrrFrames();
  // kIoOk (0) with the next frame in `frame`, kIoEnd (-1) after the last, or kIoBadData (1)
  // for a frame that is cut or malformed.
  int next(TrrFrame& frame);

 private:
  struct State;
  explicit TrrFrames(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace kvtraj

#pragma GCC visibility pop

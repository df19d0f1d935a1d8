// The KVT file: a trajectory in principal-component form (average structure, eigenvectors with
// their eigenvalues, and the projection of every snapshot on every eigenvector).
//
//  - `kvtcreate`, `kvtwrite` and `kvtclose` build a handle in memory and write it as KVT4 (reals)
//    or, when the caller sets `magic` to "KVT6", with 16-bit projection codes. The file is written
//    to a temporary beside the target and renamed only when every write succeeded. A handle
//    given one atom record per atom writes them too (atom-record flag 1), names cut to the
//    record's columns.
//  - `kvtopen` reads a whole file of any version (KVT0 and KVT5 text, KVT2 fixed records, KVT4
//    and KVT6 streams) into a new handle. Header counts are checked against the file size before
//    anything is allocated.
//  - KVT7 files (written by the bounded compressor, pca/bounded.hpp) hold the KVT4 layout followed
//    by a coded part (codec/codec.hpp, docs/kvt7.md): `kvtopen` reads the first and the index of
//    the second, and `kvtframes` decodes their frames, each coordinate within the file's maximum
//    error of the frames that were compressed.
//  - The queries rebuild snapshots and answer questions from the handle in memory. Indices count
//    from 1; an index outside its range ends the program with a message naming the range.
//
// Fatal conditions go through `die` (standard error, exit status 1).
//
// Threads: the module keeps no state of its own; calls on different handles may run at once,
// and the queries may share one handle that nothing writes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "support/atom_record.hpp"

#pragma GCC visibility push(default)  // the installed interface, exported by shared builds

namespace kvtraj {

namespace codec {
struct Section;
}

struct kvtfile {
  std::string filename;  // no trailing blanks
  std::string title;     // no trailing blanks
  std::string magic = "????";
  std::int32_t unit = 0, status = 0, natoms = 0, nvecs = 0, nframes = 0;
  // In memory the total variance; on disk the percentage of it the eigenvalues capture.
  float quality = 0.0f;
  std::vector<float> avg;    // 3N
  std::vector<float> evals;  // nvecs
  std::vector<float> evecs;  // 3N x nvecs, column-major: vector k is contiguous
  std::vector<float> proj;   // nframes x nvecs, column-major: proj(i, k) = snapshot i on vector k
  // The atoms' identities (number, name, residue number and name, chain): none, or one per atom.
  // Read from KVT4/KVT6 files whose atom-record flag is 1; written when there is one per atom.
  std::vector<AtomRecord> atoms;
  // KVT7: where the coded part starts, and its header and index (null for other versions).
  std::uint64_t coded_offset = 0;
  std::shared_ptr<const codec::Section> coded;
};

// A handle for a new KVT4 file holding `avg` (3 * natoms reals); nothing touches the disk.
kvtfile kvtcreate(std::int32_t unit, std::string_view filename, std::string_view title,
                  std::int32_t natoms, std::int32_t nframes, std::int32_t nvecs, float quality,
                  std::span<const float> avg);

// Stores eigenvector `ivec` (3N reals), its eigenvalue and its projections (nframes reals).
// Returns 0, or -1 with nothing stored when `ivec` lies outside 1..nvecs.
std::int32_t kvtwrite(kvtfile& kvtf, std::int32_t ivec, std::span<const float> evec, float eval,
                      std::span<const float> proj);

// Writes the whole file (after turning a positive quality into a percentage) and releases the
// handle's arrays. Returns 0 when every write succeeded, otherwise a non-zero error code; on
// failure an existing file of that name is left as it was.
std::int32_t kvtclose(kvtfile& kvtf);
// The same, and `append` writes what follows the KVT4 layout (a KVT7 file's coded part, with the
// handle's magic set to "KVT7") to the file before it replaces the target; it returns false when
// a write failed.
std::int32_t kvtclose(kvtfile& kvtf, const std::function<bool(std::FILE*)>& append);

// Reads a whole KVT file. `status` is 0 when it was read completely; a read error or end of file
// inside a vector block leaves it non-zero (negative at end of file) with the vectors before the
// failing one filled.
kvtfile kvtopen(std::int32_t unit, std::string_view filename);

std::vector<float> kvtavg(const kvtfile& kvtf);
std::vector<float> kvtevals(const kvtfile& kvtf);
std::vector<float> kvtevec(const kvtfile& kvtf, std::int32_t ivec);
std::vector<float> kvtproj(const kvtfile& kvtf, std::int32_t ivec);
// The projections of snapshot `iframe` on every vector.
std::vector<float> kvtscores(const kvtfile& kvtf, std::int32_t iframe);

// Snapshot `iframe` rebuilt from vectors first..last (default all; `last` is capped at nvecs and
// `first` raised to 1). A snapshot index outside 1..nframes, first > last or a handle with a
// non-zero status give the average.
std::vector<float> kvtsnap(const kvtfile& kvtf, std::int32_t iframe,
                           std::optional<std::int32_t> first = std::nullopt,
                           std::optional<std::int32_t> last = std::nullopt);
// Same as kvtsnap but into a caller buffer of 3N reals (no allocation per snapshot).
void kvtsnap(const kvtfile& kvtf, std::int32_t iframe, std::span<float> out,
             std::optional<std::int32_t> first = std::nullopt,
             std::optional<std::int32_t> last = std::nullopt);

// The frames of a KVT7 file as coded, exact to within its maximum error (kvtsnap gives the
// principal-component rebuild instead). A reader decodes one block at a time and keeps it, so
// that reading frames in order decodes each block once; use one reader per thread. Damage is
// fatal, naming the file.
class kvtframes {
 public:
  explicit kvtframes(const kvtfile& kvtf);  // fatal when the handle holds no coded part
  ~kvtframes();
  kvtframes(const kvtframes&) = delete;
  kvtframes& operator=(const kvtframes&) = delete;
  // Frame `iframe` (1..nframes) into 3N reals; fatal outside that range.
  void read(std::int32_t iframe, std::span<float> out);
  double max_error() const;

 private:
  const kvtfile& kvtf_;
  std::FILE* file_ = nullptr;
  std::int64_t block_ = -1;  // held in frames_
  std::vector<float> frames_;
  std::vector<std::uint8_t> bytes_;
};

// Mahalanobis distance of every snapshot over the first `nv` vectors (0..nvecs).
std::vector<float> kvtmaha(const kvtfile& kvtf, std::int32_t nv);
// Length of eigenvector `ivec` at every atom; zeros when the handle's status is non-zero.
std::vector<float> kvtfluc(const kvtfile& kvtf, std::int32_t ivec);

}  // namespace kvtraj

#pragma GCC visibility pop

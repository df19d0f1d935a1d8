// Error-bounded coding of trajectory frames: every coordinate comes back within a maximum error
// E of the input, float32 rounding of the output included. A pipeline of stages:
//  - quantiser (grid.cpp): each block's coordinates are snapped to a grid of step a little below
//    2E, so that the bound holds by construction, whatever the prediction;
//  - predictor (predict.cpp, plan.cpp): the grid integers of a frame are predicted from the
//    previous frame (time), or from the principal-component model and the frame's rigid
//    transform (pca), then corrected by weighted residuals of earlier atoms of the same frame
//    and of the same atom one frame back, as the file's coding plan says; an atom held at a
//    near-constant distance from one or two earlier ones (a bond, a rigid water) has one or two
//    coordinates predicted from those distances; an atom that jumps to another periodic image
//    codes the jump apart (images.hpp), so that its residual stays small;
//  - entropy coder (entropy.hpp): the integer residuals, rANS with per-block tables;
//  - container (section.cpp): the coded part of a KVT7 file, a header with the plan, the blocks
//    and their index. The layout is docs/kvt7.md.
// Blocks are independent: each decodes alone, carries a checksum of its decoded coordinates, and
// may be encoded on any thread. Decoding uses integer arithmetic and double arithmetic in a fixed
// order (the module is compiled without contraction of multiply-adds), so every build decodes
// the same floats. Damaged input ends through `die` with one line naming it.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#pragma GCC visibility push(default)  // the installed interface, exported by shared builds

namespace kvtraj::codec {

// The principal-component model blocks may predict from: frame i (0-based) of the file is
// approximately  rotᵀ (average + vectors · proj(i) − trans)  with its transform.
struct Model {
  std::int32_t natoms = 0;
  std::int32_t nvecs = 0;
  std::int64_t nframes = 0;
  std::span<const float> average;  // 3N
  std::span<const float> vectors;  // 3N x nvecs, column per vector
  std::span<const float> proj;     // nframes x nvecs, column per vector
};

// A frame's rigid fit: fitted = rot · x + trans (rot column-major).
struct Transform {
  std::array<float, 9> rot{1, 0, 0, 0, 1, 0, 0, 0, 1};
  std::array<float, 3> trans{0, 0, 0};
};
// The transform as a block stores it (rotation to 2^-20, translation to 2^-8 Å).
Transform stored(const Transform& t);

// A correction term: `weight` / 16 times the residual of atom i - source of the same frame
// (source 1..16), or of atom i one frame back (source 0).
struct Ref {
  std::uint8_t source = 0;
  std::int8_t weight = 0;
};
inline constexpr int kMaxRefs = 3;
inline constexpr int kMaxSource = 16;

// How every atom is coded; one for the whole file.
struct AtomPlan {
  bool time_only = false;  // predicted from its previous frame even in pca blocks
  // refs[0] in time blocks, refs[1] in pca blocks
  std::array<std::uint8_t, 2> nrefs{0, 0};
  std::array<std::array<Ref, kMaxRefs>, 2> refs{};
  // The atom i - anchor (1..kMaxSource; 0: none) it keeps its distance to from frame to frame,
  // and whether that distance predicts a coordinate in time blocks [0] and pca blocks [1]; with
  // a second anchor (0: none) the two distances predict two coordinates.
  std::uint8_t anchor = 0;
  std::uint8_t second = 0;
  std::array<bool, 2> held{false, false};
};
struct Plan {
  std::vector<AtomPlan> atoms;
};

// Atoms [first, first + count) that form a group coded without the principal components and
// with references only inside the group (a molecule of water, an ion).
struct AtomGroup {
  std::int32_t first = 0;
  std::int32_t count = 0;
};

// ---------------------------------------------------------------- grid

// The grid step for a block whose largest coordinate magnitude is `largest`: every coordinate
// rebuilt as float(q · step) is within `max_error` of its input. Fatal when `max_error` is not
// a positive number or too small for float32 at that magnitude.
double grid_step(double max_error, double largest);
// Checks a maximum error given by a user: a positive finite number (fatal otherwise).
void check_max_error(double max_error);

// ---------------------------------------------------------------- plan

// Chooses the plan from sample frames (count x 3N, consecutive) with their transforms (empty
// without a model), at `step`. Atoms of `groups` are time-only with references inside their
// group; other atoms are time-only when the model does not predict them better than their
// previous frame.
Plan choose_plan(const Model& model, std::span<const float> frames, std::int64_t first,
                 std::int64_t count, std::span<const Transform> transforms, double step,
                 std::span<const AtomGroup> groups);
void write_plan(const Plan& plan, std::vector<std::uint8_t>& out);
// Reads a plan of `natoms` atoms; fatal (naming `what`) when it is damaged.
Plan read_plan(std::span<const std::uint8_t> bytes, std::int32_t natoms, std::string_view what);

// ---------------------------------------------------------------- blocks

enum class Mode : std::uint8_t { time = 0, pca = 1 };

struct BlockInput {
  std::int64_t first = 0;                 // file frame of the first frame
  std::int64_t count = 0;                 // frames
  std::span<const float> frames;          // count x 3N
  std::span<const Transform> transforms;  // count, or empty: time mode only
};
struct EncodedBlock {
  std::vector<std::uint8_t> bytes;
  std::uint32_t transform_bytes = 0;  // of bytes, the stored transforms
  Mode mode = Mode::time;
  double max_deviation = 0.0;  // largest |rebuilt - input| found when verifying
};
// Encodes a block in time mode and, with a model and transforms, in pca mode, keeps the smaller,
// decodes it again and checks every coordinate against `max_error` (fatal if one is off).
EncodedBlock encode_block(const Model& model, const Plan& plan, const BlockInput& in,
                          double max_error);
// Decodes a block of `count` frames starting at file frame `first` into `out` (count x 3N).
void decode_block(const Model& model, const Plan& plan, std::span<const std::uint8_t> bytes,
                  std::int64_t first, std::int64_t count, std::span<float> out,
                  std::string_view what);

// ---------------------------------------------------------------- the coded part

struct BlockEntry {
  std::uint64_t offset = 0;  // from the start of the coded part
  std::uint64_t bytes = 0;
  std::uint64_t transform_bytes = 0;
};
// What the header and index of a coded part hold.
struct Section {
  double max_error = 0.0;
  std::int64_t block_frames = 0;  // frames per block (the last block may hold fewer)
  Plan plan;
  std::vector<BlockEntry> blocks;
  std::uint64_t header_bytes = 0;  // header with the plan
  std::uint64_t index_bytes = 0;
};
// The number of blocks that `nframes` frames make.
std::int64_t block_count(std::int64_t nframes, std::int64_t block_frames);
// Frames per block for `natoms` atoms: about 2^18 coordinates, at least 8 frames.
std::int64_t frames_per_block(std::int32_t natoms);

// Writes a coded part to a stream, block after block, the index last.
class SectionWriter {
 public:
  // `file` is positioned where the coded part starts.
  SectionWriter(std::FILE* file, double max_error, std::int64_t block_frames, const Plan& plan);
  void add(const EncodedBlock& block);
  // Writes the index and goes back to complete the header; false when a write failed.
  bool finish();

 private:
  bool put(const void* data, std::size_t bytes);
  std::FILE* file_;
  long long start_ = 0;
  std::uint64_t at_ = 0;  // bytes written from the start
  std::vector<BlockEntry> blocks_;
  bool ok_ = true;
};

// Reads the header and index of the coded part at `offset` of `file` (of `file_bytes` bytes) for
// `nframes` frames of `natoms` atoms; every count and offset is checked against the file.
Section read_section(std::FILE* file, std::uint64_t offset, std::uint64_t file_bytes,
                     std::int32_t natoms, std::int64_t nframes, std::string_view what);

}  // namespace kvtraj::codec

#pragma GCC visibility pop

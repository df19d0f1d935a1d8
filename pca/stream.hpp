// Passes over a contiguous range of frames, block by block. A pass in parts cuts the range into
// one contiguous part per core, and each thread reads and works through its own part front to
// back with a reader of its own, meeting the others only when the pass ends. When the input cannot
// be opened once per core, a reader thread decodes the next block while the caller's threads share
// the current one; with a single core the caller reads each block itself. Slow inputs are copied
// during the first pass to an unlinked temporary float file (gone on every exit path) that later
// passes read at disk speed, in parts; an input whose fingerprint changes between passes is fatal.
// Chained inputs (FrameReader::chained) are first read into the copy on their own, each part a
// chain, and the parts are stitched: every frame read from the copy gets its part's correction,
// summed along the parts of this process and of the processes before it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "pca/parallel.hpp"
#include "pca/pca.hpp"

#pragma GCC visibility push(default)  // shared with the analysis library: exported by shared builds

namespace kvtraj::pca {

class FrameStream {
 public:
  // Frames [first, last) of `reader`; `progress` hears of every block. With one core no thread
  // is started: every block is read on the caller's thread.
  FrameStream(FrameReader& reader, std::int64_t first, std::int64_t last, ProgressFn progress,
              Cores& cores, Reducer& reducer);
  ~FrameStream();
  FrameStream(const FrameStream&) = delete;
  FrameStream& operator=(const FrameStream&) = delete;

  std::int64_t frames() const { return last_ - first_; }
  std::int64_t coordinates() const { return n_; }
  std::int64_t block_frames() const { return block_; }
  // Frames per block from the next pass on (at least one).
  void set_block_frames(std::int64_t frames) { block_ = std::max<std::int64_t>(frames, 1); }
  int passes() const { return passes_; }

  // Calls fn(offset, count, block) for every block in order: `offset` counts frames from the
  // start of the range, `block` holds `count` frames of 3N reals that fn may overwrite.
  using BlockFn = std::function<void(std::int64_t offset, std::int64_t count, std::span<float>)>;
  void pass(std::string_view name, const BlockFn& fn);

  // The most parts a pass in parts has: one per core, at most one per frame.
  int max_parts() const;
  // Who runs a block of a pass in parts: the part's number (0 .. max_parts() - 1) and the cores
  // for the work inside the block (one, when the parts run side by side).
  struct Part {
    int index = 0;
    Cores& cores;
  };
  using PartFn = std::function<void(const Part& part, std::int64_t offset, std::int64_t count,
                                    std::span<float> block)>;
  // Calls fn for every block, in order within each part; blocks of different parts run at once.
  // When the range cannot be read in parts, this is `pass` with part 0 and all the cores.
  void pass_in_parts(std::string_view name, const PartFn& fn);

  // Reads the range's first frame, outside any pass.
  void read_first(std::span<float> out);

  // Before the first pass (or the first frame): the fingerprint, the copy of a slow input, and
  // the reading and stitching of a chained one, which sums across processes: every process
  // calls it at the same point. Later calls do nothing.
  void start();

  // Frees the block buffers, which passes otherwise keep, until the next pass.
  void release_buffers();

  // Reports a step without frames (a factorisation) to the progress callback.
  void step(std::string_view name, bool finished) const;

 private:
  void read_block(FrameReader& reader, std::int64_t offset, std::int64_t count,
                  std::span<float> out);
  // Block buffer `which`, kept from pass to pass.
  std::span<float> buffer(int which);
  void prepare_chains();
  void stitch(std::span<FrameReader* const> readers);
  void correct(std::int64_t offset, std::int64_t count, std::span<float> out) const;
  void begin_pass(std::string_view name);
  void end_pass(std::string_view name);
  void pass_reading_ahead(std::string_view name, const BlockFn& fn);
  void run_parts(std::string_view name, int parts, const PartFn& fn);
  // How many parts the next pass can have: the readers for them are opened once, on first need.
  int parts_available();
  void open_spill();

  FrameReader& reader_;
  std::int64_t first_ = 0;
  std::int64_t last_ = 0;
  std::int64_t n_ = 0;
  std::int64_t block_ = 1;
  ProgressFn progress_;
  Cores& cores_;
  Reducer& reducer_;
  bool started_ = false;
  int passes_ = 0;
  std::string fingerprint_;
  int spill_ = -1;        // descriptor, open during and after the first pass of a slow input
  bool spilled_ = false;  // the spill holds every frame of the range
  std::vector<std::unique_ptr<FrameReader>> others_;  // readers of parts 1, 2, ...
  bool others_tried_ = false;
  // Chained inputs: the first frame (from the start of the range) of each part of the copy, and
  // the correction its frames get.
  std::vector<std::int64_t> chain_starts_;
  std::vector<std::vector<float>> chain_shifts_;
  std::vector<std::vector<float>> buffers_;
};

}  // namespace kvtraj::pca

#pragma GCC visibility pop

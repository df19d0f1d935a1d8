// Passes over a contiguous range of frames, block by block: a reader thread decodes the next
// block while the caller works on the current one. Slow inputs are copied during the first pass
// to an unlinked temporary float file (gone on every exit path) that later passes read at disk
// speed; an input whose fingerprint changes between passes is fatal.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "pca/pca.hpp"

namespace kvtraj::pca {

class FrameStream {
 public:
  // Frames [first, last) of `reader`; `progress` hears of every block.
  FrameStream(FrameReader& reader, std::int64_t first, std::int64_t last, ProgressFn progress);
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

  // Reads the range's first frame, outside any pass.
  void read_first(std::span<float> out) { read_block(0, 1, out); }

  // Reports a step without frames (a factorisation) to the progress callback.
  void step(std::string_view name, bool finished) const;

 private:
  void read_block(std::int64_t offset, std::int64_t count, std::span<float> out);
  void open_spill();

  FrameReader& reader_;
  std::int64_t first_ = 0;
  std::int64_t last_ = 0;
  std::int64_t n_ = 0;
  std::int64_t block_ = 1;
  ProgressFn progress_;
  int passes_ = 0;
  std::string fingerprint_;
  std::FILE* spill_ = nullptr;  // open during and after the first pass of a slow input
  bool spilled_ = false;        // the spill holds every frame of the range
};

}  // namespace kvtraj::pca

#include "pca/stream.hpp"

#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "support/fatal.hpp"

namespace kvtraj::pca {
namespace {

// Reals per block: large enough for efficient matrix products, small next to any budget.
constexpr std::int64_t kBlockValues = std::int64_t{1} << 23;
constexpr std::int64_t kMaxBlockFrames = 512;

// Two buffers: the reader fills one while the caller works on the other.
struct Slot {
  std::span<float> data;
  std::int64_t offset = 0;
  std::int64_t count = 0;
  bool full = false;
};

struct Handoff {
  Slot slots[2];
  std::mutex mutex;
  std::condition_variable changed;
  bool stop = false;
  std::exception_ptr error;
};

std::string temp_dir() {
  const char* dir = std::getenv("TMPDIR");
  return dir != nullptr && *dir != '\0' ? dir : "/tmp";
}

}  // namespace

FrameStream::FrameStream(FrameReader& reader, std::int64_t first, std::int64_t last,
                         ProgressFn progress, Cores& cores)
    : reader_(reader),
      first_(first),
      last_(last),
      n_(3 * static_cast<std::int64_t>(reader.natoms())),
      progress_(std::move(progress)),
      cores_(cores) {
  if (first_ < 0 || last_ < first_ || last_ > reader.frames()) {
    die(reader.name() + ": frames " + std::to_string(first_) + " to " + std::to_string(last_) +
        " are not in the trajectory");
  }
  block_ =
      std::clamp<std::int64_t>(kBlockValues / std::max<std::int64_t>(n_, 1), 1, kMaxBlockFrames);
}

FrameStream::~FrameStream() {
  if (spill_ != nullptr) std::fclose(spill_);
}

void FrameStream::open_spill() {
  std::string name = temp_dir() + "/kvtraj-spill-XXXXXX";
  const int fd = mkstemp(name.data());
  if (fd < 0) die(reader_.name() + ": no temporary file could be made in " + temp_dir());
  // Unlinked at once: the copy disappears however the program ends.
  unlink(name.c_str());
  spill_ = fdopen(fd, "w+b");
  if (spill_ == nullptr) {
    close(fd);
    die(reader_.name() + ": no temporary file could be made in " + temp_dir());
  }
}

void FrameStream::read_block(std::int64_t offset, std::int64_t count, std::span<float> out) {
  const auto values = static_cast<std::size_t>(count * n_);
  if (spilled_) {
    if (fseeko(spill_, static_cast<off_t>(offset * n_ * 4), SEEK_SET) != 0 ||
        std::fread(out.data(), 4, values, spill_) != values) {
      die(reader_.name() + ": the temporary copy in " + temp_dir() + " could not be read");
    }
    return;
  }
  reader_.read(first_ + offset, count, out.first(values));
  if (spill_ != nullptr && std::fwrite(out.data(), 4, values, spill_) != values) {
    die(reader_.name() + ": the temporary copy could not be written in " + temp_dir() +
        " (disk full?)");
  }
}

void FrameStream::step(std::string_view name, bool finished) const {
  if (progress_) progress_(ProgressEvent{name, 0, 0, finished});
}

std::span<float> FrameStream::buffer(int which) {
  std::vector<float>& b = buffers_[which];
  b.resize(static_cast<std::size_t>(block_ * n_));
  return b;
}

void FrameStream::release_buffers() {
  for (std::vector<float>& b : buffers_) std::vector<float>().swap(b);
}

void FrameStream::pass_inline(std::string_view name, const BlockFn& fn) {
  const std::int64_t total = frames();
  const std::span<float> block = buffer(0);
  for (std::int64_t offset = 0; offset < total; offset += block_) {
    const std::int64_t count = std::min(block_, total - offset);
    read_block(offset, count, block);
    fn(offset, count, block.first(static_cast<std::size_t>(count * n_)));
    if (progress_) progress_(ProgressEvent{name, offset + count, total, false});
  }
}

void FrameStream::pass_reading_ahead(std::string_view name, const BlockFn& fn) {
  const std::int64_t total = frames();
  Handoff h;
  h.slots[0].data = buffer(0);
  h.slots[1].data = buffer(1);
  std::thread producer([&] {
    try {
      for (std::int64_t offset = 0, b = 0; offset < total; offset += block_, ++b) {
        Slot& s = h.slots[b % 2];
        {
          std::unique_lock lock(h.mutex);
          h.changed.wait(lock, [&] { return !s.full || h.stop; });
          if (h.stop) return;
        }
        s.offset = offset;
        s.count = std::min(block_, total - offset);
        {
          const Cores::Held held(cores_, true);
          read_block(offset, s.count, s.data);
        }
        std::lock_guard lock(h.mutex);
        s.full = true;
        h.changed.notify_all();
      }
    } catch (...) {
      std::lock_guard lock(h.mutex);
      h.error = std::current_exception();
      h.changed.notify_all();
    }
  });
  try {
    for (std::int64_t b = 0; b * block_ < total; ++b) {
      Slot& s = h.slots[b % 2];
      {
        std::unique_lock lock(h.mutex);
        h.changed.wait(lock, [&] { return s.full || h.error; });
        if (!s.full) std::rethrow_exception(h.error);
      }
      fn(s.offset, s.count, s.data.first(static_cast<std::size_t>(s.count * n_)));
      if (progress_) progress_(ProgressEvent{name, s.offset + s.count, total, false});
      std::lock_guard lock(h.mutex);
      s.full = false;
      h.changed.notify_all();
    }
  } catch (...) {
    {
      std::lock_guard lock(h.mutex);
      h.stop = true;
      h.changed.notify_all();
    }
    producer.join();
    throw;
  }
  producer.join();
}

void FrameStream::pass(std::string_view name, const BlockFn& fn) {
  if (passes_ == 0) {
    fingerprint_ = reader_.fingerprint();
    if (reader_.slow()) open_spill();
  } else if (reader_.fingerprint() != fingerprint_) {
    die(reader_.name() + ": the input changed while it was being compressed");
  }
  ++passes_;
  if (progress_) progress_(ProgressEvent{name, 0, frames(), false});
  if (cores_.count() > 1) {
    pass_reading_ahead(name, fn);
  } else {
    pass_inline(name, fn);
  }
  if (spill_ != nullptr && !spilled_) {
    if (std::fflush(spill_) != 0) {
      die(reader_.name() + ": the temporary copy could not be written in " + temp_dir() +
          " (disk full?)");
    }
    spilled_ = true;
  }
  if (progress_) progress_(ProgressEvent{name, frames(), frames(), true});
}

}  // namespace kvtraj::pca

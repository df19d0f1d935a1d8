#include "pca/stream.hpp"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "support/fatal.hpp"
#include "support/system_io.hpp"

namespace kvtraj::pca {
namespace {

// Reals per block: large enough for efficient matrix products, small next to any budget.
constexpr std::int64_t kBlockValues = std::int64_t{1} << 23;
constexpr std::int64_t kMaxBlockFrames = 512;
// Parts a pass is cut into at most: each holds a reader of the input and a block buffer.
constexpr int kMaxParts = 16;

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
                         ProgressFn progress, Cores& cores, Reducer& reducer)
    : reader_(reader),
      first_(first),
      last_(last),
      n_(3 * static_cast<std::int64_t>(reader.natoms())),
      progress_(std::move(progress)),
      cores_(cores),
      reducer_(reducer) {
  if (first_ < 0 || last_ < first_ || last_ > reader.frames()) {
    die(reader.name() + ": frames " + std::to_string(first_) + " to " + std::to_string(last_) +
        " are not in the trajectory");
  }
  block_ =
      std::clamp<std::int64_t>(kBlockValues / std::max<std::int64_t>(n_, 1), 1, kMaxBlockFrames);
}

FrameStream::~FrameStream() {
  if (spill_ >= 0) close(spill_);
}

void FrameStream::open_spill() {
  std::string name = temp_dir() + "/kvtraj-spill-XXXXXX";
  spill_ = mkstemp(name.data());
  if (spill_ < 0) {
    die_of_errno(reader_.name(), "no temporary file could be made in " + temp_dir(), errno);
  }
  // Unlinked at once: the copy disappears however the program ends.
  unlink(name.c_str());
}

void FrameStream::read_block(FrameReader& reader, std::int64_t offset, std::int64_t count,
                             std::span<float> out) {
  const auto values = static_cast<std::size_t>(count * n_);
  const auto at = static_cast<std::uint64_t>(offset * n_ * 4);
  auto* bytes = reinterpret_cast<char*>(out.data());
  if (spilled_) {
    const std::int64_t got = pread_fully(spill_, bytes, values * 4, at);
    if (got != static_cast<std::int64_t>(values * 4)) {
      die_of_errno(reader_.name(), "the temporary copy in " + temp_dir() + " could not be read",
                   got < 0 ? errno : EIO);
    }
    correct(offset, count, out);
    return;
  }
  reader.read(first_ + offset, count, out.first(values));
  if (spill_ >= 0 && !pwrite_fully(spill_, bytes, values * 4, at)) {
    die_of_errno(reader_.name(), "the temporary copy could not be written in " + temp_dir(), errno);
  }
}

void FrameStream::step(std::string_view name, bool finished) const {
  if (progress_) progress_(ProgressEvent{name, 0, 0, finished});
}

std::span<float> FrameStream::buffer(int which) {
  if (buffers_.size() <= static_cast<std::size_t>(which)) buffers_.resize(which + 1);
  std::vector<float>& b = buffers_[static_cast<std::size_t>(which)];
  b.resize(static_cast<std::size_t>(block_ * n_));
  return b;
}

void FrameStream::release_buffers() {
  std::vector<std::vector<float>>().swap(buffers_);
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
          read_block(reader_, offset, s.count, s.data);
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
      cores_.check();
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

void FrameStream::read_first(std::span<float> out) {
  start();
  read_block(reader_, 0, 1, out);
}

void FrameStream::start() {
  if (started_) return;
  started_ = true;
  fingerprint_ = reader_.fingerprint();
  if (reader_.slow() || reader_.chained()) open_spill();
  if (reader_.chained()) prepare_chains();
}

void FrameStream::prepare_chains() {
  const int parts = parts_available();
  const std::string_view name = "preparing frames";
  ++passes_;
  if (progress_) progress_(ProgressEvent{name, 0, frames(), false});
  run_parts(name, parts, [](const Part&, std::int64_t, std::int64_t, std::span<float>) {});
  std::vector<FrameReader*> readers;
  for (int p = 0; p < parts; ++p) {
    chain_starts_.push_back(frames() * p / parts);
    readers.push_back(p == 0 ? &reader_ : others_[static_cast<std::size_t>(p - 1)].get());
  }
  stitch(readers);
  spilled_ = true;
  if (progress_) progress_(ProgressEvent{name, frames(), frames(), true});
}

void FrameStream::stitch(std::span<FrameReader* const> readers) {
  const auto n = static_cast<std::size_t>(n_);
  const auto parts = readers.size();
  const auto rank = static_cast<std::size_t>(reducer_.rank());
  const auto ranks = static_cast<std::size_t>(reducer_.size());
  // Every process learns the end of every other's last chain; its first chain meets the end of
  // the process before it.
  const std::vector<float> last_end = readers.back()->chain_end();
  std::vector<float> ends(ranks * last_end.size(), 0.0f);
  std::copy(last_end.begin(), last_end.end(), ends.begin() + rank * last_end.size());
  reducer_.sum(ends);
  chain_shifts_.assign(parts, std::vector<float>(n, 0.0f));
  for (std::size_t p = 0; p < parts; ++p) {
    std::vector<float> seam;
    if (p > 0) {
      seam = readers[p]->seam(readers[p - 1]->chain_end());
    } else if (rank > 0) {
      seam = readers[0]->seam(
          std::span<const float>(ends).subspan((rank - 1) * last_end.size(), last_end.size()));
    }
    if (p > 0) chain_shifts_[p] = chain_shifts_[p - 1];
    for (std::size_t i = 0; i < seam.size() && i < n; ++i) chain_shifts_[p][i] += seam[i];
  }
  // The corrections of the processes before this one add up in front of its own.
  std::vector<float> totals(ranks * n, 0.0f);
  std::copy(chain_shifts_.back().begin(), chain_shifts_.back().end(), totals.begin() + rank * n);
  reducer_.sum(totals);
  for (std::size_t r = 0; r < rank; ++r) {
    for (std::vector<float>& shift : chain_shifts_) {
      for (std::size_t i = 0; i < n; ++i) shift[i] += totals[r * n + i];
    }
  }
}

void FrameStream::correct(std::int64_t offset, std::int64_t count, std::span<float> out) const {
  if (chain_shifts_.empty()) return;
  for (std::int64_t f = 0; f < count; ++f) {
    const auto part = static_cast<std::size_t>(
        std::upper_bound(chain_starts_.begin(), chain_starts_.end(), offset + f) -
        chain_starts_.begin() - 1);
    const std::vector<float>& shift = chain_shifts_[part];
    float* x = out.data() + f * n_;
    for (std::int64_t i = 0; i < n_; ++i) x[i] += shift[static_cast<std::size_t>(i)];
  }
}

void FrameStream::begin_pass(std::string_view name) {
  if (!started_) {
    start();
  } else if (reader_.fingerprint() != fingerprint_) {
    die(reader_.name() + ": the input changed while it was being compressed");
  }
  ++passes_;
  if (progress_) progress_(ProgressEvent{name, 0, frames(), false});
}

void FrameStream::end_pass(std::string_view name) {
  // Every write has reached the file (pwrite): the copy is complete once the first pass is.
  if (spill_ >= 0) spilled_ = true;
  if (progress_) progress_(ProgressEvent{name, frames(), frames(), true});
}

void FrameStream::pass(std::string_view name, const BlockFn& fn) {
  begin_pass(name);
  if (cores_.count() > 1) {
    pass_reading_ahead(name, fn);
  } else {
    // One part: the caller reads every block itself.
    run_parts(name, 1,
              [&](const Part&, std::int64_t offset, std::int64_t count, std::span<float> block) {
                fn(offset, count, block);
              });
  }
  end_pass(name);
}

int FrameStream::max_parts() const {
  return static_cast<int>(std::min<std::int64_t>({cores_.count(), kMaxParts, frames()}));
}

int FrameStream::parts_available() {
  const int parts = max_parts();
  if (parts == 1 || spilled_) return parts;
  if (!others_tried_) {
    others_tried_ = true;
    for (int p = 1; p < parts; ++p) {
      std::unique_ptr<FrameReader> other = reader_.another();
      if (!other) break;
      if (other->frames() != reader_.frames() || other->natoms() != reader_.natoms()) {
        die(reader_.name() + ": the input changed while it was being compressed");
      }
      others_.push_back(std::move(other));
    }
    if (static_cast<int>(others_.size()) < parts - 1) others_.clear();
  }
  return others_.empty() ? 1 : parts;
}

void FrameStream::run_parts(std::string_view name, int parts, const PartFn& fn) {
  const std::int64_t total = frames();
  for (int p = 0; p < parts; ++p) buffer(p);
  std::mutex progress_mutex;
  std::int64_t done = 0;
  run_threads(parts, [&](int p, const std::atomic<bool>& failed) {
    Cores one(1, cores_.cancel());
    // Once the copy is complete every part reads it, not the input.
    FrameReader& reader = p == 0 || spilled_ ? reader_ : *others_[static_cast<std::size_t>(p - 1)];
    const std::span<float> block = buffers_[static_cast<std::size_t>(p)];
    const std::int64_t end = total * (p + 1) / parts;
    for (std::int64_t offset = total * p / parts; offset < end && !failed; offset += block_) {
      const std::int64_t count = std::min(block_, end - offset);
      cores_.check();
      read_block(reader, offset, count, block);
      fn(Part{p, one}, offset, count, block.first(static_cast<std::size_t>(count * n_)));
      if (progress_) {
        const std::lock_guard lock(progress_mutex);
        done += count;
        progress_(ProgressEvent{name, done, total, false});
      }
    }
  });
}

void FrameStream::pass_in_parts(std::string_view name, const PartFn& fn) {
  const int parts = parts_available();
  if (parts == 1) {
    pass(name, [&](std::int64_t offset, std::int64_t count, std::span<float> block) {
      fn(Part{0, cores_}, offset, count, block);
    });
    return;
  }
  begin_pass(name);
  run_parts(name, parts, fn);
  end_pass(name);
}

}  // namespace kvtraj::pca

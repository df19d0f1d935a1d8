// KVT7: the principal-component part as in KVT4, then the coded part, whose header and index
// are read with the file and whose blocks are decoded on demand by kvtframes.
#include <algorithm>

#include "codec/codec.hpp"
#include "kvt_io/kvt_internal.hpp"
#include "support/fatal.hpp"
#include "support/files.hpp"

namespace kvtraj {
namespace kvt {
namespace {

constexpr std::uint64_t kHeaderBytes = 116;

// Where the KVT4 layout ends: header, atom records when flagged, average, vector blocks.
std::uint64_t coded_offset(const kvtfile& kvtf, std::FILE* f) {
  char header[kHeaderBytes];
  if (!read_exact(f, header, sizeof header)) die_file(kvtf, "truncated kvt header");
  const auto n = static_cast<std::uint64_t>(kvtf.natoms);
  const std::uint64_t records = get_i32(header + 112) == 1 ? 16 * n : 0;
  return kHeaderBytes + records + 12 * n +
         static_cast<std::uint64_t>(kvtf.nvecs) *
             (12 * n + 4 + 4 * static_cast<std::uint64_t>(kvtf.nframes));
}

}  // namespace

void read_bounded(kvtfile& kvtf) {
  read_stream(kvtf);
  if (kvtf.status != 0) return;
  FilePtr f = open_file(kvtf.filename, "rb");
  if (!f) die_file(kvtf, "cannot open the file");
  kvtf.coded_offset = coded_offset(kvtf, f.get());
  kvtf.coded = std::make_shared<const codec::Section>(codec::read_section(
      f.get(), kvtf.coded_offset, size_of_file(kvtf), kvtf.natoms, kvtf.nframes, kvtf.filename));
}

}  // namespace kvt

namespace {

codec::Model model_of(const kvtfile& kvtf) {
  return {kvtf.natoms, kvtf.nvecs, kvtf.nframes, kvtf.avg, kvtf.evecs, kvtf.proj};
}

}  // namespace

kvtframes::kvtframes(const kvtfile& kvtf) : kvtf_(kvtf) {
  if (!kvtf.coded) kvt::die_file(kvtf, "not a KVT7 file: it holds no coded frames");
  file_ = std::fopen(kvtf.filename.c_str(), "rb");
  if (!file_) kvt::die_file(kvtf, "cannot open the file");
}

kvtframes::~kvtframes() {
  std::fclose(file_);
}

double kvtframes::max_error() const {
  return kvtf_.coded->max_error;
}

void kvtframes::read(std::int32_t iframe, std::span<float> out) {
  if (iframe < 1 || iframe > kvtf_.nframes) {
    die("kvtframes: frame " + std::to_string(iframe) + " is outside 1.." +
        std::to_string(kvtf_.nframes));
  }
  const codec::Section& s = *kvtf_.coded;
  const std::int64_t frame = iframe - 1;
  const std::int64_t block = frame / s.block_frames;
  const std::size_t n = kvtf_.avg.size();
  if (block != block_) {
    const codec::BlockEntry& e = s.blocks[static_cast<std::size_t>(block)];
    const std::int64_t first = block * s.block_frames;
    const std::int64_t count =
        std::min(s.block_frames, static_cast<std::int64_t>(kvtf_.nframes) - first);
    block_ = -1;
    bytes_.resize(static_cast<std::size_t>(e.bytes));
    if (fseeko(file_, static_cast<off_t>(kvtf_.coded_offset + e.offset), SEEK_SET) != 0 ||
        (!bytes_.empty() && std::fread(bytes_.data(), 1, bytes_.size(), file_) != bytes_.size())) {
      kvt::die_file(kvtf_, "cannot read coded block " + std::to_string(block + 1));
    }
    frames_.resize(static_cast<std::size_t>(count) * n);
    codec::decode_block(model_of(kvtf_), s.plan, bytes_, first, count, frames_,
                        kvtf_.filename + ": block " + std::to_string(block + 1));
    block_ = block;
  }
  const std::size_t at = static_cast<std::size_t>(frame - block * s.block_frames) * n;
  std::copy_n(frames_.begin() + static_cast<std::ptrdiff_t>(at), n, out.begin());
}

}  // namespace kvtraj

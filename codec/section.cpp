// The coded part of a KVT7 file: header (magic, version, maximum error, frames per block,
// block count, index offset, coding plan), the blocks, and the index of their offsets.
#include <sys/types.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "codec/bytes.hpp"
#include "codec/codec.hpp"
#include "support/fatal.hpp"

namespace kvtraj::codec {
namespace {

constexpr char kMagic[4] = {'K', 'V', 'T', 'C'};
constexpr std::uint32_t kVersion = 2;
constexpr std::size_t kFixedHeader = 44;
constexpr std::size_t kEntryBytes = 24;
constexpr long long kCountAt = 24;  // block count, then index offset
// A block never decodes into more than this many coordinates (a file cannot ask for more).
constexpr std::int64_t kMaxBlockCoordinates = std::int64_t{1} << 24;

}  // namespace

std::int64_t block_count(std::int64_t nframes, std::int64_t block_frames) {
  return block_frames > 0 ? (nframes + block_frames - 1) / block_frames : 0;
}

std::int64_t frames_per_block(std::int32_t natoms) {
  const std::int64_t n = 3 * std::max<std::int64_t>(natoms, 1);
  const std::int64_t wanted = std::max<std::int64_t>((std::int64_t{1} << 18) / n, 8);
  return std::max<std::int64_t>(std::min(wanted, kMaxBlockCoordinates / n), 1);
}

SectionWriter::SectionWriter(std::FILE* file, double max_error, std::int64_t block_frames,
                             const Plan& plan)
    : file_(file), start_(ftello(file)) {
  std::vector<std::uint8_t> plan_bytes;
  write_plan(plan, plan_bytes);
  ByteWriter h;
  std::uint32_t magic = 0;
  std::memcpy(&magic, kMagic, 4);
  h.put(magic);
  h.put(kVersion);
  h.put(max_error);
  h.put(static_cast<std::uint64_t>(block_frames));
  h.put(std::uint64_t{0});  // block count, then index offset: completed by finish
  h.put(std::uint64_t{0});
  h.put_sized(plan_bytes);
  ok_ = start_ >= 0 && put(h.bytes().data(), h.bytes().size());
}

bool SectionWriter::put(const void* data, std::size_t bytes) {
  if (bytes > 0 && std::fwrite(data, 1, bytes, file_) != bytes) ok_ = false;
  at_ += bytes;
  return ok_;
}

void SectionWriter::add(const EncodedBlock& block) {
  blocks_.push_back({at_, block.bytes.size(), block.transform_bytes});
  put(block.bytes.data(), block.bytes.size());
}

bool SectionWriter::finish() {
  const std::uint64_t index_at = at_;
  ByteWriter index;
  for (const BlockEntry& e : blocks_) {
    index.put(e.offset);
    index.put(e.bytes);
    index.put(e.transform_bytes);
  }
  put(index.bytes().data(), index.bytes().size());
  const std::uint64_t counts[2] = {blocks_.size(), index_at};
  const long long end = ftello(file_);
  if (!ok_ || fseeko(file_, start_ + kCountAt, SEEK_SET) != 0) return false;
  if (std::fwrite(counts, sizeof counts, 1, file_) != 1) return false;
  return fseeko(file_, end, SEEK_SET) == 0;
}

Section read_section(std::FILE* file, std::uint64_t offset, std::uint64_t file_bytes,
                     std::int32_t natoms, std::int64_t nframes, std::string_view what) {
  const auto damaged = [&](const std::string& why) -> void {
    die(std::string(what) + ": damaged coded part (" + why + ")");
  };
  if (offset > file_bytes || file_bytes - offset < kFixedHeader) damaged("it is missing or short");
  const std::uint64_t size = file_bytes - offset;
  std::uint8_t fixed[kFixedHeader];
  if (fseeko(file, static_cast<off_t>(offset), SEEK_SET) != 0 ||
      std::fread(fixed, 1, kFixedHeader, file) != kFixedHeader) {
    damaged("cannot read its header");
  }
  ByteReader h(fixed, what);
  if (std::memcmp(h.take(4).data(), kMagic, 4) != 0) damaged("wrong magic");
  if (h.get<std::uint32_t>() != kVersion) damaged("unknown version");
  Section s;
  s.max_error = h.get<double>();
  const auto block_frames = h.get<std::uint64_t>();
  const auto nblocks = h.get<std::uint64_t>();
  const auto index_at = h.get<std::uint64_t>();
  const auto plan_bytes = h.get<std::uint32_t>();
  if (!(s.max_error > 0.0) || !std::isfinite(s.max_error)) damaged("invalid maximum error");
  const std::int64_t n = 3 * static_cast<std::int64_t>(natoms);
  if (block_frames < 1 || natoms < 1 ||
      block_frames > static_cast<std::uint64_t>(kMaxBlockCoordinates / n)) {
    damaged("invalid frames per block");
  }
  s.block_frames = static_cast<std::int64_t>(block_frames);
  if (nblocks != static_cast<std::uint64_t>(block_count(nframes, s.block_frames)))
    damaged("wrong block count");
  if (plan_bytes > size - kFixedHeader) damaged("the coding plan runs past the end");
  s.header_bytes = kFixedHeader + plan_bytes;
  if (index_at < s.header_bytes || index_at > size || (size - index_at) / kEntryBytes != nblocks ||
      (size - index_at) % kEntryBytes != 0) {
    damaged("the index does not fit the file");
  }
  s.index_bytes = size - index_at;
  std::vector<std::uint8_t> plan(plan_bytes);
  std::vector<std::uint8_t> index(static_cast<std::size_t>(s.index_bytes));
  if ((plan_bytes > 0 && std::fread(plan.data(), 1, plan.size(), file) != plan.size()) ||
      fseeko(file, static_cast<off_t>(offset + index_at), SEEK_SET) != 0 ||
      (!index.empty() && std::fread(index.data(), 1, index.size(), file) != index.size())) {
    damaged("cannot read the plan or the index");
  }
  s.plan = read_plan(plan, natoms, what);
  ByteReader in(index, what);
  std::uint64_t next = s.header_bytes;
  for (std::uint64_t b = 0; b < nblocks; ++b) {
    BlockEntry e{in.get<std::uint64_t>(), in.get<std::uint64_t>(), in.get<std::uint64_t>()};
    if (e.offset != next || e.bytes > index_at - e.offset || e.transform_bytes > e.bytes) {
      damaged("block " + std::to_string(b + 1) + " lies outside its place");
    }
    next = e.offset + e.bytes;
    s.blocks.push_back(e);
  }
  if (next != index_at) damaged("the blocks do not fill the coded part");
  return s;
}

}  // namespace kvtraj::codec

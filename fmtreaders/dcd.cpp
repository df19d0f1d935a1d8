// DCD trajectories: header checks and frame reading.
//
// A DCD file is a sequence of records, each framed by a length marker before and after it. The
// markers are 4 bytes in most files and 8 bytes in files written with 64-bit record lengths;
// both read alike. Header record 1 is "CORD" and 20 integers (fixed atoms in the 9th, the time
// step in the 10th or, for version 0, over the 10th and 11th as a 64-bit real, the unit-cell
// flag in the 11th, the extra-dimension flag in the 12th, the version in the 20th); record 2
// holds the title lines; record 3 natoms. Each frame is an optional unit-cell record of six
// 64-bit reals, then one record each of x, y and z.
//
// The marker size is decided by where "CORD" stands after a leading 84: a little-endian 8-byte
// marker 84 also reads as the 4-byte value 84, so the value alone cannot tell them apart.
#include <array>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "fmtreaders/binary_file.hpp"
#include "fmtreaders/readers.hpp"
#include "support/fixed_text.hpp"
#include "support/fortran_input.hpp"
#include "support/messages.hpp"

namespace kvtraj {
namespace {

using readers::refuse;

constexpr std::int64_t kHeaderBytes = 84;  // "CORD" and 20 integers
constexpr std::int64_t kTitleBytes = 80;
constexpr std::int64_t kCellBytes = 48;  // six 64-bit reals
constexpr std::int32_t kMaxAtoms4 = INT32_MAX / 4;

constexpr const char* kBadHeader = "Error - bad header in dcd file";

std::int32_t int_at(const unsigned char* p) {
  std::int32_t v = 0;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// The x, y and z records (n reals each) → x, y, z per atom.
void interleave(const std::array<const char*, 3>& axis, std::size_t n, float* out) {
  std::size_t i = 0;
#if defined(__SSE2__)
  for (; i + 4 <= n; i += 4) {  // four atoms: x0..x3, y0..y3, z0..z3 → x0 y0 z0 x1 | ... | z3
    const __m128 x = _mm_loadu_ps(reinterpret_cast<const float*>(axis[0] + 4 * i));
    const __m128 y = _mm_loadu_ps(reinterpret_cast<const float*>(axis[1] + 4 * i));
    const __m128 z = _mm_loadu_ps(reinterpret_cast<const float*>(axis[2] + 4 * i));
    const __m128 xy_low = _mm_unpacklo_ps(x, y);                             // x0 y0 x1 y1
    const __m128 xy_high = _mm_unpackhi_ps(x, y);                            // x2 y2 x3 y3
    const __m128 zx = _mm_shuffle_ps(z, x, _MM_SHUFFLE(1, 1, 0, 0));         // z0 z0 x1 x1
    const __m128 yz = _mm_shuffle_ps(y, z, _MM_SHUFFLE(1, 1, 1, 1));         // y1 y1 z1 z1
    const __m128 zxy = _mm_shuffle_ps(z, xy_high, _MM_SHUFFLE(3, 2, 3, 2));  // z2 z3 x3 y3
    _mm_storeu_ps(out + 3 * i, _mm_shuffle_ps(xy_low, zx, _MM_SHUFFLE(2, 0, 1, 0)));
    _mm_storeu_ps(out + 3 * i + 4, _mm_shuffle_ps(yz, xy_high, _MM_SHUFFLE(1, 0, 2, 0)));
    _mm_storeu_ps(out + 3 * i + 8, _mm_shuffle_ps(zxy, zxy, _MM_SHUFFLE(1, 3, 2, 0)));
  }
#endif
  for (; i < n; ++i) {
    for (std::size_t k = 0; k < 3; ++k) std::memcpy(out + 3 * i + k, axis[k] + 4 * i, 4);
  }
}

class DcdReader final : public readers::FrameReader {
 public:
  explicit DcdReader(readers::BinaryFile file) : file_(std::move(file)) {}

  // Reads the header: true with type and natoms set, or false after reporting why not.
  bool read_header(std::int32_t& type, std::int32_t& natoms);
  int read(std::int32_t natoms, std::span<float> coords, std::span<float> box) override;
  std::int64_t skip(std::int32_t natoms, std::int64_t count) override;
  bool rewind() override { return file_.seek(first_frame_); }
  std::int32_t file_atoms() const override { return natoms_; }
  // Counting stops at the first frame whose records are damaged or cut; bytes left after it
  // mean the file does not hold what its frames say.
  bool cut_inside_frame() const override { return file_.remaining() > 0; }

 private:
  bool read_marker_size();
  bool read_first_record(std::int32_t& type);
  bool read_record_marker(std::int64_t expected);
  bool skip_titles();
  std::int64_t marker_at(const char* p) const;
  bool markers_hold(const char* p, std::int64_t length) const;

  readers::BinaryFile file_;
  std::int64_t marker_ = 4;
  bool cell_ = false;
  std::int32_t natoms_ = 0;
  std::uint64_t frame_bytes_ = 0;
  std::uint64_t first_frame_ = 0;  // offset of the first frame
  std::vector<char> frame_;
};

bool DcdReader::read_marker_size() {
  unsigned char lead[12] = {};
  std::size_t got = 0;
  file_.read(lead, sizeof lead, got);
  std::int64_t wide = 0;
  std::memcpy(&wide, lead, sizeof wide);
  const bool narrow_84 = int_at(lead) == kHeaderBytes;
  if (narrow_84 && std::memcmp(lead + 4, "CORD", 4) == 0) {
    marker_ = 4;
  } else if (wide == kHeaderBytes && std::memcmp(lead + 8, "CORD", 4) == 0) {
    marker_ = 8;
  } else {
    return refuse(narrow_84 || wide == kHeaderBytes ? "Error - no magic word in dcd file?"
                                                    : "Problem with dcd file - wrong-endian?");
  }
  return file_.seek(static_cast<std::uint64_t>(marker_)) || refuse(kBadHeader);
}

bool DcdReader::read_first_record(std::int32_t& type) {
  unsigned char body[kHeaderBytes];
  if (!file_.read(body, sizeof body)) return refuse(kBadHeader);
  const auto integer = [&](int i) { return int_at(body + 4 * i); };  // i counts from 1
  if (integer(9) != 0) return refuse("Error - fixed atoms in dcd file not supported");
  const bool has_cell = integer(20) != 0 && integer(11) != 0;
  if (integer(12) != 0) return refuse("Error - extra dimension in dcd file not supported");
  if (!read_record_marker(kHeaderBytes)) return refuse(kBadHeader);
  type = (marker_ == 4 ? kTypeDcd : kTypeDcd64) + (has_cell ? 2 : 0);
  cell_ = has_cell;
  return true;
}

bool DcdReader::read_record_marker(std::int64_t expected) {
  char raw[8] = {};
  return file_.read(raw, static_cast<std::size_t>(marker_)) && marker_at(raw) == expected;
}

bool DcdReader::skip_titles() {
  char raw[8] = {};
  std::int32_t count = 0;
  if (!file_.read(raw, static_cast<std::size_t>(marker_)) || !file_.read(&count, sizeof count)) {
    return false;
  }
  const std::int64_t length = marker_at(raw);
  if (count < 0 || length != 4 + kTitleBytes * count) return false;
  const auto titles = static_cast<std::uint64_t>(kTitleBytes * count);
  if (file_.remaining() < titles) return false;
  return file_.seek(file_.position() + titles) && read_record_marker(length);
}

bool DcdReader::read_header(std::int32_t& type, std::int32_t& natoms) {
  if (!read_marker_size() || !read_first_record(type)) return false;
  std::int32_t count = 0;
  if (!skip_titles() || !read_record_marker(4) || !file_.read(&count, sizeof count) ||
      !read_record_marker(4)) {
    return refuse(kBadHeader);
  }
  if (count < 1 || (marker_ == 4 && count > kMaxAtoms4)) {
    return refuse("Error - bad atom count in dcd file");
  }
  natoms_ = count;
  natoms = count;
  first_frame_ = file_.position();
  const auto axis = static_cast<std::uint64_t>(2 * marker_ + 4 * static_cast<std::int64_t>(count));
  frame_bytes_ = 3 * axis + (cell_ ? static_cast<std::uint64_t>(2 * marker_ + kCellBytes) : 0);
  return true;
}

std::int64_t DcdReader::marker_at(const char* p) const {
  if (marker_ == 8) {
    std::int64_t v = 0;
    std::memcpy(&v, p, sizeof v);
    return v;
  }
  std::int32_t v = 0;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Both markers around a record of `length` bytes that starts (with its first marker) at p.
bool DcdReader::markers_hold(const char* p, std::int64_t length) const {
  return marker_at(p) == length && marker_at(p + marker_ + length) == length;
}

int DcdReader::read(std::int32_t natoms, std::span<float> coords, std::span<float> box) {
  const auto n = static_cast<std::size_t>(natoms_);
  if (natoms != natoms_ || coords.size() < 3 * n || (cell_ && box.size() < 6)) return kIoBadData;
  const char* p = nullptr;
  if (const int status = file_.read_block(frame_, frame_bytes_, p); status != kIoOk) return status;
  // Every record is checked before anything reaches the caller's arrays.
  const char* cell = nullptr;
  if (cell_) {
    if (!markers_hold(p, kCellBytes)) return kIoBadData;
    cell = p + marker_;
    p += 2 * marker_ + kCellBytes;
  }
  const auto length = static_cast<std::int64_t>(4 * n);
  std::array<const char*, 3> axis{};
  for (const char*& values : axis) {
    if (!markers_hold(p, length)) return kIoBadData;
    values = p + marker_;
    p += 2 * marker_ + length;
  }
  for (std::size_t k = 0; cell && k < 6; ++k) {
    double v = 0.0;
    std::memcpy(&v, cell + 8 * k, sizeof v);
    box[k] = static_cast<float>(v);
  }
  interleave(axis, n, coords.data());
  return kIoOk;
}

// Counting passes frames by their record markers alone: a frame with a damaged marker ends the
// count where reading would end, without reading any coordinates. The markers are read where
// they stand, past the read-ahead buffer (they lie a record apart, and a refill for each would
// read the whole file); a record's closing marker and the next record's opening one are
// neighbours, so one read takes both.
std::int64_t DcdReader::skip(std::int32_t natoms, std::int64_t count) {
  if (natoms != natoms_ || count < 1) return 0;
  file_.measure();
  const auto bytes = static_cast<std::uint64_t>(marker_);
  const auto axis = 4 * static_cast<std::int64_t>(natoms_);
  const std::int64_t first_length = cell_ ? kCellBytes : axis;
  const int records = cell_ ? 4 : 3;
  const std::uint64_t start = file_.position(), size = start + file_.remaining();
  const auto frame_fits = [&](std::uint64_t from) { return size - from >= frame_bytes_; };
  std::uint64_t at = start;
  char pair[16] = {};
  bool opening = frame_fits(at) && file_.peek(at, pair, bytes) && marker_at(pair) == first_length;
  std::int64_t passed = 0;
  while (passed < count && opening) {
    std::uint64_t end = at;
    bool whole = true;
    for (int r = 0; r < records && whole; ++r) {
      const std::int64_t length = r == 0 ? first_length : axis;
      end += bytes + static_cast<std::uint64_t>(length);
      const bool last = r == records - 1;
      // The last record's neighbour opens the next frame, if the file holds one.
      const bool next = !last || frame_fits(end + bytes);
      whole = file_.peek(end, pair, next ? 2 * bytes : bytes) && marker_at(pair) == length;
      opening = whole && next && marker_at(pair + bytes) == (last ? first_length : axis);
      whole = whole && (last || opening);
      end += bytes;
    }
    if (!whole) break;
    ++passed;
    at = end;
  }
  file_.seek(at);
  return passed;
}

bool slot_taken(std::int32_t handle) {
  return handle >= kFirstHandle && handle <= kLastHandle &&
         handcom()[static_cast<std::size_t>(handle - kFirstHandle)] == handle;
}

// Frees the slot of a refused file, whose reason has been reported.
void release(std::int32_t& handle) {
  readers::release_slot(handle);
  handle = -1;
}

}  // namespace

void dcdopen(std::int32_t& handle, std::string_view filename, std::int32_t& natoms) {
  auto file = slot_taken(handle) ? readers::BinaryFile::open(std::string(trim_right(filename)))
                                 : std::nullopt;
  if (!file) {
    report_error("Error - can't open dcd file");
    return release(handle);
  }
  readers::install_reader(handle, std::make_unique<DcdReader>(std::move(*file)));
  readdcdheader(handle, natoms);
}

void readdcdheader(std::int32_t& handle, std::int32_t& natoms) {
  auto* reader = dynamic_cast<DcdReader*>(readers::reader_of(handle));
  if (!reader) {
    report_error(kBadHeader);
    return release(handle);
  }
  std::int32_t type = kTypeDcd;
  if (!reader->read_header(type, natoms)) return release(handle);
  readers::type_entry(handle) = type;
}

void dcdreadnext(std::int32_t handle, std::span<float> coords, std::int32_t natoms,
                 std::span<float> box, std::int32_t& status) {
  const std::int32_t type = f77_molfile_type(handle);
  if (type < kTypeDcd || type > kTypeDcd64Cell) {
    report_error("Error - unrecognised dcd file type");
    status = -2;
    return;
  }
  auto* reader = dynamic_cast<DcdReader*>(readers::reader_of(handle));
  status = reader ? reader->read(natoms, coords, box) : kIoBadData;
}

namespace readers {

std::unique_ptr<FrameReader> dcd_reader(BinaryFile file, std::int32_t& type, std::int32_t& natoms) {
  auto reader = std::make_unique<DcdReader>(std::move(file));
  return reader->read_header(type, natoms) ? std::move(reader) : nullptr;
}

}  // namespace readers
}  // namespace kvtraj

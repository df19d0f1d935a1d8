// AMBER NetCDF trajectories (the convention: netcdf_layout.cpp). The files our users have are
// classic format — CDF-2 (64-bit offsets) as the convention asks, CDF-1 and CDF-5 also seen —
// and are read here through BinaryFile like every other binary format, so that an input/output
// error is reported as one and a cut file gives the frames it holds whole. HDF5-based (NetCDF-4)
// files go to the NetCDF library (netcdf_library.cpp) where the build has it.
//
// Classic data is big-endian. A variable whose first dimension is the unlimited one has one
// slice in each record (records follow one another, each holding a slice of every record
// variable); a variable of a fixed frame dimension has its frames one after another. Either way
// frame k of a variable lies at its begin plus k strides, so skipping costs nothing and each read
// fetches one frame's bytes, converted from float or double to the caller's floats.
#include <array>
#include <cstring>

#include "fmtreaders/netcdf_header.hpp"
#include "fmtreaders/readers.hpp"
#include "support/netcdf_classic.hpp"

namespace kvtraj::readers {
namespace {

// Where the frames of one variable lie: frame k at begin + k * stride, `values` values of `type`.
struct Slab {
  std::uint64_t begin = 0;
  std::uint64_t stride = 0;
  std::uint64_t values = 0;
  std::uint32_t type = 0;

  std::uint64_t bytes() const { return values * nc_type_size(type); }
  // The frames whose values a file of `file_bytes` bytes holds whole.
  std::uint64_t whole(std::uint64_t file_bytes) const {
    if (file_bytes < begin || file_bytes - begin < bytes()) return 0;
    return 1 + (file_bytes - begin - bytes()) / stride;
  }
};

Slab slab_of(const NcLayout& l, std::size_t var, std::uint64_t values) {
  const NcVariable& v = l.vars[var];
  Slab s{v.begin, 0, values, v.type};
  s.stride = l.dims[v.dims[0]].unlimited ? l.record_bytes : s.bytes();
  return s;
}

std::uint64_t big_endian(const char* p, std::size_t bytes) {
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < bytes; ++i) v = v << 8 | static_cast<unsigned char>(p[i]);
  return v;
}

// The big-endian floats or doubles at `data`, as floats.
void decode(const char* data, const Slab& s, float* out) {
  for (std::uint64_t i = 0; i < s.values; ++i) {
    if (s.type == netcdf::kFloat) {
      const auto raw = static_cast<std::uint32_t>(big_endian(data + 4 * i, 4));
      std::memcpy(out + i, &raw, 4);
    } else {
      const std::uint64_t raw = big_endian(data + 8 * i, 8);
      double value = 0;
      std::memcpy(&value, &raw, 8);
      out[i] = static_cast<float>(value);
    }
  }
}

class ClassicReader final : public FixedAtomsReader {
 public:
  ClassicReader(BinaryFile file, std::int32_t natoms, std::array<Slab, 3> slabs, bool with_cell,
                std::uint64_t frames)
      : file_(std::move(file)), slabs_(slabs), with_cell_(with_cell), frames_(frames) {
    natoms_ = natoms;
  }

  int read(std::int32_t natoms, std::span<float> coords, std::span<float> box) override {
    if (!fits(natoms, coords, box, with_cell_)) return kIoBadData;
    if (next_ >= frames_) return kIoEnd;
    // The file holds these frames whole unless it shrank since it was opened.
    if (!fetch(slabs_[0], coords.data()) ||
        (with_cell_ && !(fetch(slabs_[1], box.data()) && fetch(slabs_[2], box.data() + 3)))) {
      return kIoBadData;
    }
    ++next_;
    return kIoOk;
  }

  std::int64_t skip(std::int32_t natoms, std::int64_t count) override {
    if (!can_skip(natoms, count)) return 0;
    const std::uint64_t passed = std::min(frames_ - next_, static_cast<std::uint64_t>(count));
    next_ += passed;
    return static_cast<std::int64_t>(passed);
  }

  bool rewind() override {
    next_ = 0;
    return true;
  }
  bool has_box() const override { return with_cell_; }

 private:
  bool fetch(const Slab& s, float* out) {
    const char* data = nullptr;
    if (!file_.seek(s.begin + next_ * s.stride) ||
        file_.read_block(buffer_, s.bytes(), data) != kIoOk) {
      return false;
    }
    decode(data, s, out);
    return true;
  }

  BinaryFile file_;
  std::array<Slab, 3> slabs_;  // coordinates, cell lengths, cell angles
  bool with_cell_ = false;
  std::uint64_t frames_ = 0;
  std::uint64_t next_ = 0;
  std::vector<char> buffer_;
};

}  // namespace

std::unique_ptr<FrameReader> netcdf_reader(BinaryFile file, std::int32_t& type,
                                           std::int32_t& file_natoms) {
  NcLayout layout;
  if (read_classic_header(file, layout) != HeaderCheck::layout) {
    report_error("Error - bad header in netcdf file");
    return nullptr;
  }
  const auto amber = amber_variables(layout);
  if (!amber) return nullptr;
  const std::uint64_t n = static_cast<std::uint64_t>(amber->natoms);
  std::array<Slab, 3> slabs = {slab_of(layout, amber->coordinates, 3 * n)};
  if (amber->lengths) {
    slabs[1] = slab_of(layout, *amber->lengths, 3);
    slabs[2] = slab_of(layout, *amber->angles, 3);
  }
  // The declared frames, bounded by those the file holds whole (a cut or still growing file).
  const std::uint64_t bytes = file.position() + file.remaining();
  std::uint64_t frames = layout.dims[layout.vars[amber->coordinates].dims[0]].length;
  for (std::size_t k = 0; k < (amber->lengths ? 3u : 1u); ++k) {
    frames = std::min(frames, slabs[k].whole(bytes));
  }
  file_natoms = amber->natoms;
  type = kTypeNetcdf;
  return std::make_unique<ClassicReader>(std::move(file), amber->natoms, slabs,
                                         amber->lengths.has_value(), frames);
}

std::unique_ptr<FrameReader> open_netcdf(const std::string& path, std::int32_t& file_natoms,
                                         std::int32_t& type) {
  auto file = BinaryFile::open(path);
  if (!file) {
    report_error("Error - can't open netcdf file");
    return nullptr;
  }
  std::array<char, 3> magic{};
  if (!file->peek(0, magic.data(), magic.size()) || std::memcmp(magic.data(), "CDF", 3) != 0) {
    return open_netcdf_library(path, file_natoms, type);
  }
  return netcdf_reader(std::move(*file), type, file_natoms);
}

}  // namespace kvtraj::readers

// AMBER NetCDF in the classic format with 64-bit offsets (CDF-2), which the convention asks for
// and every reader of it takes (the NetCDF library, scipy's reader and so MDAnalysis, MDTraj):
// dimensions frame (unlimited), spatial, atom, and for boxed trajectories cell_spatial,
// cell_angular and label; coordinates as floats in Å, cell_lengths (Å) and cell_angles (degrees)
// as doubles, a time per frame, and the Conventions "AMBER" / ConventionVersion "1.0" attributes.
// The frames' own times are not known here: frame k (from 0) gets time k ps, the unit step the
// DCD writer records too.
//
// The file is written through the writer's stream like every other format (so its system calls
// are retried and its failures reported the same way): the header, the label variables, then
// one record per frame — time, coordinates, and the cell's lengths and angles — all big-endian.
// The record count in the header is filled in once the last frame is written.
#include <cerrno>
#include <cstring>
#include <string_view>
#include <vector>

#include "fmtwriters/formats.hpp"
#include "support/netcdf_classic.hpp"

namespace kvtraj {
namespace {

constexpr long kRecordCountOffset = 4;  // after "CDF" and the version byte
constexpr std::uint64_t kMaxRecords = INT32_MAX;

// Big-endian words and padded text, appended to a byte buffer.
class BigEndian {
 public:
  explicit BigEndian(std::vector<char>& out) : out_(out) {}
  void u32(std::uint32_t v) { word(v, 4); }
  void u64(std::uint64_t v) { word(v, 8); }
  void f32(float v) {
    std::uint32_t raw = 0;
    std::memcpy(&raw, &v, 4);
    u32(raw);
  }
  void f64(double v) {
    std::uint64_t raw = 0;
    std::memcpy(&raw, &v, 8);
    u64(raw);
  }
  // `text` padded with zeros to a multiple of 4 bytes.
  void padded(std::string_view text) {
    out_.insert(out_.end(), text.begin(), text.end());
    out_.resize(out_.size() + (4 - text.size() % 4) % 4, '\0');
  }
  // A name or a text value: its length, then its bytes padded.
  void counted(std::string_view text) {
    u32(static_cast<std::uint32_t>(text.size()));
    padded(text);
  }

 private:
  void word(std::uint64_t v, int bytes) {
    for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8) {
      out_.push_back(static_cast<char>(v >> shift & 0xff));
    }
  }
  std::vector<char>& out_;
};

struct Attribute {
  std::string_view name, value;
};

struct Variable {
  std::string_view name;
  std::uint32_t type = 0;
  std::vector<std::uint32_t> dims;
  std::string_view units;   // none when empty
  std::uint64_t bytes = 0;  // of one record, or of the whole variable
};

void attributes(BigEndian& h, std::span<const Attribute> list) {
  if (list.empty()) {
    h.u32(0);  // an absent list
    h.u32(0);
    return;
  }
  h.u32(netcdf::kAttributeTag);
  h.u32(static_cast<std::uint32_t>(list.size()));
  for (const Attribute& a : list) {
    h.counted(a.name);
    h.u32(netcdf::kChar);
    h.counted(a.value);
  }
}

class NetcdfWriter final : public TrajectoryWriter {
 public:
  explicit NetcdfWriter(WriterSetup s)
      : TrajectoryWriter(std::move(s.out), std::move(s.path), s.natoms, s.with_cell) {}

 private:
  bool put_header(std::string_view title) override {
    const std::uint64_t coordinates = 12 * static_cast<std::uint64_t>(natoms());
    if (coordinates > UINT32_MAX) {
      return fail(path() + ": " + std::to_string(natoms()) +
                  " atoms are more than a NetCDF 64-bit offset file holds");
    }
    std::vector<char> bytes;
    BigEndian h(bytes);
    h.padded("CDF\2");
    h.u32(0);  // the record count, filled in by put_trailer
    dimensions(h);
    const std::string name(title.empty() ? "Created by kvtraj" : title);
    const Attribute globals[] = {{"title", name},          {"application", "kvtraj"},
                                 {"program", "kvt"},       {"programVersion", KVTRAJ_VERSION},
                                 {"Conventions", "AMBER"}, {"ConventionVersion", "1.0"}};
    attributes(h, globals);
    const std::vector<Variable> vars = variables(coordinates);
    std::vector<std::size_t> begins;
    h.u32(netcdf::kVariableTag);
    h.u32(static_cast<std::uint32_t>(vars.size()));
    for (const Variable& v : vars) {
      h.counted(v.name);
      h.u32(static_cast<std::uint32_t>(v.dims.size()));
      for (std::uint32_t d : v.dims) h.u32(d);
      const Attribute units[] = {{"units", v.units}};
      attributes(h, std::span(units, v.units.empty() ? 0 : 1));
      h.u32(v.type);
      h.u32(static_cast<std::uint32_t>((v.bytes + 3) / 4 * 4));
      begins.push_back(bytes.size());
      h.u64(0);  // the begin, set below once the header's size is known
    }
    place(bytes, vars, begins);
    h.padded("xyz");
    if (with_cell()) {
      h.padded("abc");
      h.padded("alphabeta gamma");
    }
    return put(bytes.data(), bytes.size());
  }

  bool put_frame(std::span<const float> coords, const UnitCell& cell) override {
    if (static_cast<std::uint64_t>(frames()) >= kMaxRecords) {
      return fail(path() + ": more frames than a NetCDF file records");
    }
    record_.clear();
    BigEndian r(record_);
    r.f32(static_cast<float>(frames()));
    for (float x : coords) r.f32(x);
    if (with_cell()) {
      for (double x : {cell.a, cell.b, cell.c, cell.alpha, cell.beta, cell.gamma}) r.f64(x);
    }
    return put(record_.data(), record_.size());
  }

  bool put_trailer() override {
    std::vector<char> count;
    BigEndian(count).u32(static_cast<std::uint32_t>(frames()));
    const bool ok = std::fseek(file(), kRecordCountOffset, SEEK_SET) == 0 &&
                    std::fwrite(count.data(), 1, 4, file()) == 4 &&
                    std::fseek(file(), 0, SEEK_END) == 0;
    return ok || fail(path() + ": cannot record the frame count in the NetCDF header: " +
                      std::strerror(errno));
  }

  // frame (the unlimited one), spatial, atom; then cell_spatial, cell_angular and label.
  void dimensions(BigEndian& h) const {
    h.u32(netcdf::kDimensionTag);
    h.u32(with_cell() ? 6 : 3);
    h.counted("frame");
    h.u32(0);
    h.counted("spatial");
    h.u32(3);
    h.counted("atom");
    h.u32(static_cast<std::uint32_t>(natoms()));
    if (!with_cell()) return;
    h.counted("cell_spatial");
    h.u32(3);
    h.counted("cell_angular");
    h.u32(3);
    h.counted("label");
    h.u32(5);
  }

  // In the order of the dimensions above: frame 0, spatial 1, atom 2, cell_spatial 3,
  // cell_angular 4, label 5.
  std::vector<Variable> variables(std::uint64_t coordinates) const {
    std::vector<Variable> vars = {
        {"spatial", netcdf::kChar, {1}, "", 3},
        {"time", netcdf::kFloat, {0}, "picosecond", 4},
        {"coordinates", netcdf::kFloat, {0, 2, 1}, "angstrom", coordinates}};
    if (with_cell()) {
      vars.push_back({"cell_spatial", netcdf::kChar, {3}, "", 3});
      vars.push_back({"cell_angular", netcdf::kChar, {4, 5}, "", 15});
      vars.push_back({"cell_lengths", netcdf::kDouble, {0, 3}, "angstrom", 24});
      vars.push_back({"cell_angles", netcdf::kDouble, {0, 4}, "degree", 24});
    }
    return vars;
  }

  // Sets each variable's begin: the fixed-size ones right after the header, then the record
  // variables, one after another inside the first record.
  static void place(std::vector<char>& bytes, const std::vector<Variable>& vars,
                    const std::vector<std::size_t>& begins) {
    std::uint64_t at = bytes.size();
    for (const bool record : {false, true}) {
      for (std::size_t k = 0; k < vars.size(); ++k) {
        if ((vars[k].dims[0] == 0) != record) continue;
        std::vector<char> begin;
        BigEndian(begin).u64(at);
        std::memcpy(bytes.data() + begins[k], begin.data(), 8);
        at += (vars[k].bytes + 3) / 4 * 4;
      }
    }
  }

  std::vector<char> record_;
};

}  // namespace

std::unique_ptr<TrajectoryWriter> make_netcdf_writer(WriterSetup setup) {
  return std::make_unique<NetcdfWriter>(std::move(setup));
}

}  // namespace kvtraj

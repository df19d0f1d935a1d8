// GROMACS GRO, one block per frame as trjconv writes them: a title line with the time and step
// ("TITLE t=   2.00000 step= 2": frame k at k ps, as the XTC writer numbers them), the atom count,
// one line per atom "%5d%-5s%5s%5d%8.3f%8.3f%8.3f" (residue number, residue name, atom name,
// atom number, x y z in nm; names cut to 5 letters, numbers beyond 99,999 to their last five
// digits), and the box in nm: its three lengths for a rectangular box, all nine vector
// components (v1x v2y v3z v1y v1z v2x v2z v3x v3y) for a triclinic one, zeros without a cell.
#include <array>
#include <cmath>
#include <cstdio>

#include "fmtwriters/formats.hpp"
#include "support/fixed_text.hpp"
#include "support/text_output.hpp"

namespace kvtraj {
namespace {

// The four fixed fields before the coordinates.
constexpr std::size_t kHead = 20;

class GroWriter final : public TrajectoryWriter {
 public:
  explicit GroWriter(WriterSetup s)
      : TrajectoryWriter(std::move(s.out), std::move(s.path), s.natoms, s.with_cell) {
    heads_.reserve(s.atoms.size() * kHead);
    for (const AtomRecord& a : s.atoms) {
      const std::string_view resname = trim_right(a.resname), name = trim_right(a.name);
      char head[kHead + 8];
      std::snprintf(head, sizeof head, "%5lld%-5.*s%5.*s%5lld",
                    static_cast<long long>(wrapped(a.resnum, 5)),
                    static_cast<int>(std::min<std::size_t>(resname.size(), 5)), resname.data(),
                    static_cast<int>(std::min<std::size_t>(name.size(), 5)), name.data(),
                    static_cast<long long>(wrapped(a.number, 5)));
      heads_.append(head, kHead);
    }
  }

 private:
  bool put_header(std::string_view title) override {
    title_ = trim_right(first_line(title));
    if (title_.empty()) title_ = "Created by kvtraj";
    return true;
  }

  bool put_frame(std::span<const float> coords, const UnitCell& cell) override {
    text_.clear();
    char line[64];
    std::snprintf(line, sizeof line, " t= %9.5f step= %lld\n%5d\n", static_cast<double>(frames()),
                  static_cast<long long>(frames()), natoms());
    text_ += title_;
    text_ += line;
    PositionFields fields;
    for (std::size_t i = 0; i < static_cast<std::size_t>(natoms()); ++i) {
      const std::array<double, 3> xyz = {coords[3 * i], coords[3 * i + 1], coords[3 * i + 2]};
      const int bad = format_position(xyz, 0.1, fields);
      if (bad >= 0) return fail_unfit(xyz[bad] * 0.1, "8 columns of a GRO coordinate field");
      text_.append(heads_, i * kHead, kHead);
      for (const auto& field : fields) text_.append(field.data(), 8);
      text_ += '\n';
      if (text_.size() >= kTextChunk && !put_text(text_)) return false;
    }
    return add_box(cell) && put_text(text_);
  }

  bool add_box(const UnitCell& cell) {
    std::array<double, 9> v{};  // rows a, b, c in nm
    if (with_cell()) {
      v = box_vectors(cell);
      for (double& x : v) x /= 10.0;
    }
    const std::array<double, 9> line = {v[0], v[4], v[8], v[1], v[2], v[3], v[5], v[6], v[7]};
    const bool triclinic = line[3] != 0.0 || line[4] != 0.0 || line[5] != 0.0 || line[6] != 0.0 ||
                           line[7] != 0.0 || line[8] != 0.0;
    char field[32];
    for (std::size_t k = 0; k < (triclinic ? 9 : 3); ++k) {
      const int length = std::snprintf(field, sizeof field, "%10.5f", line[k]);
      if (!std::isfinite(line[k]) || length != 10) {
        return fail_unfit(line[k], "10 columns of a GRO box field");
      }
      text_.append(field, 10);
    }
    text_ += '\n';
    return true;
  }

  std::string heads_;  // the first 20 columns of every atom's line
  std::string title_;
  std::string text_;
};

}  // namespace

std::unique_ptr<TrajectoryWriter> make_gro_writer(WriterSetup setup) {
  return std::make_unique<GroWriter>(std::move(setup));
}

}  // namespace kvtraj

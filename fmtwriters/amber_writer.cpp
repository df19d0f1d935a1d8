// AMBER formatted coordinates: a title line, then each frame as (10f8.3), a frame starting on a
// new line; crdbox adds a box line "%8.3f%8.3f%8.3f" (three more fields when the angles are not
// all right angles) after each frame.
#include <array>

#include "fmtwriters/formats.hpp"
#include "support/fixed_text.hpp"
#include "support/text_output.hpp"

namespace kvtraj {

namespace {

constexpr std::size_t kFieldsPerLine = 10;

class AmberWriter final : public TrajectoryWriter {
 public:
  explicit AmberWriter(WriterSetup s)
      : TrajectoryWriter(std::move(s.out), std::move(s.path), s.natoms, s.with_cell) {}

 private:
  bool put_header(std::string_view title) override {
    std::string line(trim_right(title.substr(0, kTitleLength)));
    if (line.empty()) line = "Created by kvtraj";
    line += '\n';
    return put(line.data(), line.size());
  }

  bool put_frame(std::span<const float> coords, const UnitCell& cell) override {
    text_.clear();
    if (!put_fields(coords, kFieldsPerLine)) return false;
    if (with_cell()) {
      const bool right = cell.alpha == 90.0f && cell.beta == 90.0f && cell.gamma == 90.0f;
      const float box[6] = {cell.a, cell.b, cell.c, cell.alpha, cell.beta, cell.gamma};
      if (!put_fields(std::span<const float>(box, right ? 3 : 6), 6)) return false;
    }
    return put(text_.data(), text_.size());
  }

  // Values in 8-column fields, `per_line` to a line, the last line ended too.
  bool put_fields(std::span<const float> values, std::size_t per_line) {
    std::array<char, 16> field{};
    for (std::size_t i = 0; i < values.size(); ++i) {
      if (!format_f8_3(values[i], field)) {
        return fail_unfit(values[i], "8 columns of an AMBER coordinate field");
      }
      text_.append(field.data(), 8);
      if ((i + 1) % per_line == 0 || i + 1 == values.size()) text_ += '\n';
    }
    return true;
  }

  std::string text_;
};

}  // namespace

std::unique_ptr<TrajectoryWriter> make_amber_writer(WriterSetup setup) {
  return std::make_unique<AmberWriter>(std::move(setup));
}

}  // namespace kvtraj

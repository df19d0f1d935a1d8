// Node positions (metres) as AMBER formatted coordinates in nanometres: ten "%8.3f" fields to a
// line, every record a frame that starts on a new line.
#include <array>
#include <cstdio>

#include "support/text_output.hpp"
#include "tools/node_trajectory.hpp"

namespace kvtraj {
namespace {

constexpr double kMetresToNanometres = 1e9;
constexpr int kValuesPerLine = 10;
constexpr long long kProgressInterval = 1000;

}  // namespace

Conversion convert_to_amber(std::FILE* in, std::FILE* out) {
  int on_line = 0;  // values already on the current line
  RecordRules rules;
  rules.state_word = true;
  rules.progress_every = kProgressInterval;
  // Nothing is written when a value does not fit its field.
  rules.node = [&](const std::array<double, 3>& xyz, long long line, long long step) {
    PositionFields fields{};
    if (!node_fields(xyz, kMetresToNanometres, "nm", line, step, fields)) return false;
    for (const auto& field : fields) {
      std::fputs(field.data(), out);
      if (++on_line == kValuesPerLine) {
        std::fputc('\n', out);
        on_line = 0;
      }
    }
    return true;
  };
  // A frame ends its last line; one that filled it has ended it already. A further empty line
  // would read back as the first line of the next frame and shift every frame after it.
  rules.end_record = [&] {
    if (on_line != 0) std::fputc('\n', out);
    on_line = 0;
  };
  return convert_records(in, out, rules);
}

}  // namespace kvtraj

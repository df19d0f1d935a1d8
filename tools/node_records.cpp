// The record loop that blobcrd and blobpdb share: header, optional state word, node count and
// node lines, each record handed to the converter's rules.
#include <array>
#include <cstdio>

#include "support/messages.hpp"
#include "support/text_output.hpp"
#include "tools/node_trajectory.hpp"

namespace kvtraj {
namespace {

// Reads the rest of a record whose header has been read.
bool convert_record(std::FILE* in, const RecordRules& rules, long long step) {
  if (rules.state_word) (void)std::fscanf(in, "%*s\n");
  long long count = 0;
  if (!scan_node_count(in, count)) {
    emitf(MessageKind::error, "Could not read number of nodes line at step %lld", step);
    return false;
  }
  for (long long line = 1; line <= count; ++line) {
    std::array<double, 3> xyz{};
    if (!scan_node_position(in, xyz)) {
      emitf(MessageKind::error, "Could not read coordinates on line %lld of step %lld", line, step);
      return false;
    }
    if (!rules.node(xyz, line, step)) return false;
  }
  rules.end_record();
  return true;
}

}  // namespace

bool node_fields(const std::array<double, 3>& xyz, double scale, const char* unit, long long line,
                 long long step, PositionFields& fields) {
  const int wide = format_position(xyz, scale, fields);
  if (wide < 0) return true;
  emitf(MessageKind::error,
        "Coordinate %g %s on line %lld of step %lld does not fit the %%8.3f field",
        xyz[wide] * scale, unit, line, step);
  return false;
}

Conversion convert_records(std::FILE* in, std::FILE* out, const RecordRules& rules) {
  long long step = 0;
  long long since_progress = 0;
  while (!std::feof(in)) {
    const HeaderScan header = scan_record_header(in, step);
    if (header != HeaderScan::kRead) {
      emitf(MessageKind::error,
            "Error when reading '*\\nBlob x, step y\\n' line after or on step %lld", step);
      return header == HeaderScan::kCleanEnd ? Conversion::kEndOfInput : Conversion::kBadInput;
    }
    if (rules.progress_every > 0 && ++since_progress == rules.progress_every) {
      emitf(MessageKind::info, "step = %lld", step);
      since_progress = 0;
    }
    if (!convert_record(in, rules, step)) return Conversion::kBadInput;
    if (std::ferror(out)) return Conversion::kWriteFailed;
  }
  return Conversion::kEndOfInput;
}

}  // namespace kvtraj

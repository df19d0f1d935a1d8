// blobcrd: converts a node trajectory of the finite-element simulation (positions in metres)
// into an AMBER formatted trajectory in nanometres. Every record ("*", "Blob b, step s", a
// state word, the node count, the node lines) becomes one frame; every node is one atom.
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "support/text_output.hpp"
#include "tools/node_trajectory.hpp"

namespace {

using kvtraj::HeaderScan;

constexpr double kMetresToNanometres = 1e9;
constexpr int kValuesPerLine = 10;
constexpr long long kProgressInterval = 1000;
constexpr int kBadInput = -1;

enum class Outcome { kEndOfInput, kBadInput, kWriteFailed };

// Writes the three coordinates of the node on `line` of the record, ten fields to a line;
// `on_line` counts the values already on the current line. Nothing is written when a value does
// not fit its field.
bool write_node(std::FILE* out, const std::array<double, 3>& xyz, int& on_line, long long line,
                long long step) {
  kvtraj::PositionFields fields{};
  const int wide = kvtraj::format_position(xyz, kMetresToNanometres, fields);
  if (wide >= 0) {
    std::printf("Coordinate %g nm on line %lld of step %lld does not fit the %%8.3f field\n",
                xyz[wide] * kMetresToNanometres, line, step);
    return false;
  }
  for (const auto& field : fields) {
    std::fputs(field.data(), out);
    if (++on_line == kValuesPerLine) {
      std::fputc('\n', out);
      on_line = 0;
    }
  }
  return true;
}

// Reads the state word, the node count and the node lines of a record whose header has been
// read, and writes its frame.
bool convert_record(std::FILE* in, std::FILE* out, long long step) {
  (void)std::fscanf(in, "%*s\n");  // the state word is not used
  long long count = 0;
  if (!kvtraj::scan_node_count(in, count)) {
    std::printf("Could not read number of nodes line at step %lld\n", step);
    return false;
  }
  int on_line = 0;
  for (long long node = 1; node <= count; ++node) {
    std::array<double, 3> xyz{};
    if (!kvtraj::scan_node_position(in, xyz)) {
      std::printf("Could not read coordinates on line %lld of step %lld\n", node, step);
      return false;
    }
    if (!write_node(out, xyz, on_line, node, step)) return false;
  }
  // A frame ends its last line; one that filled it has ended it already. A further empty line
  // would read back as the first line of the next frame and shift every frame after it.
  if (on_line != 0) std::fputc('\n', out);
  return true;
}

Outcome convert(std::FILE* in, std::FILE* out) {
  long long step = 0;
  long long since_progress = 0;
  while (!std::feof(in)) {
    const HeaderScan header = kvtraj::scan_record_header(in, step);
    if (header != HeaderScan::kRead) {
      std::printf("Error when reading '*\\nBlob x, step y\\n' line after or on step %lld\n", step);
      return header == HeaderScan::kCleanEnd ? Outcome::kEndOfInput : Outcome::kBadInput;
    }
    if (++since_progress == kProgressInterval) {
      std::printf("step = %lld\n", step);
      since_progress = 0;
    }
    if (!convert_record(in, out, step)) return Outcome::kBadInput;
    if (std::ferror(out)) return Outcome::kWriteFailed;
  }
  return Outcome::kEndOfInput;
}

int report_write_failure(const char* path) {
  std::printf("Error: Could not write x file %s: %s\n", path, std::strerror(errno));
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::printf("Usage: blobcrd [INPUT NODE TRAJECTORY FILE] [OUTPUT X FILE]\n");
    return 1;
  }
  const kvtraj::ConverterFiles files = kvtraj::open_converter_files(argv[1], argv[2], "x");
  if (!files.in || !files.out) return 1;
  const auto& out = files.out;
  std::fputs("trajectory not created by ptraj\n", out->get());
  const Outcome outcome = convert(files.in.get(), out->get());
  // A write failure stopped the conversion or shows when the last block is flushed. Damaged
  // input keeps the frames converted before the damage.
  if (!out->commit()) return report_write_failure(argv[2]);
  return outcome == Outcome::kBadInput ? kBadInput : 0;
}

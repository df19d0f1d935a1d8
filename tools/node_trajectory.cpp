// Reading of the node-trajectory records shared by the converters whose rules coincide: the
// "*" and header lines, the node count line and the node lines; the converters' files. Every read
// goes through the C stream's scanf so that blanks and line breaks match exactly as the record
// patterns say.
#include <cctype>
#include <cstdio>

#include "support/files.hpp"
#include "support/messages.hpp"
#include "tools/node_trajectory.hpp"

namespace kvtraj {

namespace {

// True when nothing but blanks and line breaks remains in `in` (and no read failed).
bool rest_is_blank(std::FILE* in) {
  int c = 0;
  while ((c = std::getc(in)) != EOF) {
    if (!std::isspace(c)) return false;
  }
  return !std::ferror(in);
}

}  // namespace

HeaderScan scan_record_header(std::FILE* in, long long& step) {
  const int first = std::getc(in);
  if (first == EOF) return std::ferror(in) ? HeaderScan::kMalformed : HeaderScan::kCleanEnd;
  std::ungetc(first, in);
  if (std::fscanf(in, "*\nBlob %*d, step %lld\n", &step) == 1) return HeaderScan::kRead;
  // A pattern that starts with "*" fails on a blank without consuming it, so trailing blank
  // lines after the last record can be told apart from a damaged header.
  if (std::isspace(first) && rest_is_blank(in)) return HeaderScan::kCleanEnd;
  return HeaderScan::kMalformed;
}

bool scan_node_count(std::FILE* in, long long& count) {
  return std::fscanf(in, "%lld\n", &count) == 1 && count >= 0;
}

bool scan_node_position(std::FILE* in, std::array<double, 3>& xyz) {
  if (std::fscanf(in, "%le %le %le", &xyz[0], &xyz[1], &xyz[2]) != 3) return false;
  int c = 0;
  while ((c = getc_unlocked(in)) != EOF && c != '\n') {
  }
  return true;
}

ConverterFiles open_converter_files(const char* input, const char* output, const char* kind) {
  ConverterFiles files;
  emitf(MessageKind::info, "Opening trajectory file %s for reading", input);
  files.in = open_file(input, "r");
  if (!files.in) {
    emitf(MessageKind::error, "Error: Could not open trajectory file %s for reading.", input);
    return files;
  }
  emitf(MessageKind::info, "Outputting to %s file %s", kind, output);
  files.out = ReplacingFile::create(output);
  if (!files.out) {
    emitf(MessageKind::error, "Error: Could not open %s file %s for writing.", kind, output);
  }
  return files;
}

}  // namespace kvtraj

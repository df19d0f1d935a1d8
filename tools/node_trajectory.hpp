// The node-trajectory reading that the converters share: the record header ("*", "Blob b,
// step s"), the node count and the node positions, and the opening of a converter's input and
// output with their announcements.
#pragma once

#include <array>
#include <cstdio>
#include <memory>

#include "support/files.hpp"

namespace kvtraj {

// Outcome of reading the "*" and "Blob b, step s" lines that open a node-trajectory record.
enum class HeaderScan {
  kRead,       // the header matched; the step is stored
  kCleanEnd,   // the input ended before a record, with at most blanks and line breaks left
  kMalformed,  // anything else: a damaged or truncated header, or a read error
};

// Reads the header by the pattern "*\nBlob %*d, step %lld\n" (blob index skipped); `step` keeps
// its value unless the step was read.
HeaderScan scan_record_header(std::FILE* in, long long& step);
// Reads the node count line by the pattern "%lld\n"; false when it holds no number or a
// negative one.
bool scan_node_count(std::FILE* in, long long& count);
// Reads the first three reals of a node line ("%le %le %le") and skips the rest of the line,
// up to and including its line break; false when fewer than three reals are found.
bool scan_node_position(std::FILE* in, std::array<double, 3>& xyz);

// The input and output of blobcrd and blobpdb, opened with their announcements
// ("Opening trajectory file IN for reading", "Outputting to KIND file OUT") and error lines; the
// output replaces an existing file only once committed. Either is null after an error line.
struct ConverterFiles {
  FilePtr in;
  std::unique_ptr<ReplacingFile> out;
};
ConverterFiles open_converter_files(const char* input, const char* output, const char* kind);

}  // namespace kvtraj

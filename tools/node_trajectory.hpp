// The node trajectories of the finite-element simulation and their conversion, as the programs
// blobcrd, blobpdb and blobxyz run it: the record header ("*", "Blob b, step s"), the node count
// and the node positions; the record loop that blobcrd and blobpdb share; the three whole
// conversions; and the opening of a converter's input and output with their announcements.
// Texts go through the message sink (by default standard output, as the programs print them);
// the conversions read any FILE*, so tests and fuzz targets can feed them bytes from memory.
#pragma once

#include <array>
#include <cstdio>
#include <functional>
#include <memory>

#include "support/files.hpp"
#include "support/text_output.hpp"

#pragma GCC visibility push(default)  // the installed interface, exported by shared builds

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

// How a conversion ended: at the end of the input, at damaged input (the records before it are
// converted), or at a failed write.
enum class Conversion { kEndOfInput, kBadInput, kWriteFailed };

// What a converter does with the records of the loop that blobcrd and blobpdb share.
struct RecordRules {
  bool state_word = false;       // a state word precedes the node count (read and ignored)
  long long progress_every = 0;  // "step = S" after every this many records (0: never)
  // Writes node `line` (counted from 1 within its record) of record `step`; false stops the
  // conversion as damaged input, after the writer said why.
  std::function<bool(const std::array<double, 3>& xyz, long long line, long long step)> node;
  std::function<void()> end_record;  // after the last node of a record
};

// The position of node `line` of record `step` times `scale` as three "%8.3f" fields; false,
// after saying which value (in `unit`) does not fit its field, when one does not.
bool node_fields(const std::array<double, 3>& xyz, double scale, const char* unit, long long line,
                 long long step, PositionFields& fields);

// Reads every record of `in`: header, optional state word, node count, nodes.
Conversion convert_records(std::FILE* in, std::FILE* out, const RecordRules& rules);

// The three conversions, positions in metres: an AMBER formatted trajectory in nanometres
// (without its title line), PDB ATOM/TER/ENDMDL records in ångström, and "%le %le %le" triples
// in metres (blobxyz's own record rules: an optional "*", STATIC records without nodes).
Conversion convert_to_amber(std::FILE* in, std::FILE* out);
Conversion convert_to_pdb(std::FILE* in, std::FILE* out);
Conversion convert_to_xyz(std::FILE* in, std::FILE* out);

// The input and output of blobcrd and blobpdb, opened with their announcements
// ("Opening trajectory file IN for reading", "Outputting to KIND file OUT") and error lines; the
// output replaces an existing file only once committed. Either is null after an error line.
struct ConverterFiles {
  FilePtr in;
  std::unique_ptr<ReplacingFile> out;
};
ConverterFiles open_converter_files(const char* input, const char* output, const char* kind);

}  // namespace kvtraj

#pragma GCC visibility pop

// Helpers shared by every kvtraj module:
//  - blank-padded fixed-length text (file names, titles) and comparisons that ignore trailing
//    blanks;
//  - Fortran-style formatted input: records (lines) read through an edit-descriptor format such
//    as "(10f8.3)", "(3i8,f8.3)" or "(16a5)", plus the field conversions it rests on and
//    list-directed (free-format) number reading;
//  - the one fatal-exit routine, `die`, whose final action can be replaced so that tests and
//    fuzzers can catch a fatal condition instead of losing the process;
//  - files: owning FILE handles, existence and size, checked size arithmetic, and output that
//    replaces its target only once it is complete.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kvtraj {

// ---------------------------------------------------------------- fixed-length text

inline constexpr std::size_t kNameLength = 160;  // file names
inline constexpr std::size_t kTitleLength = 80;  // titles

// `text` without its trailing blanks.
std::string_view trim_right(std::string_view text);

// `text` cut or blank-padded to exactly `length` characters.
std::string fit_text(std::string_view text, std::size_t length);

// Equality of two fixed-length texts: the shorter is taken as padded with blanks.
bool same_text(std::string_view a, std::string_view b);

// ---------------------------------------------------------------- fatal exits

// The final action of `die`: receives the exit status and the message already printed. The
// default flushes and ends the process. A replacement may throw; if it returns, the process ends.
using FatalAction = void (*)(int status, std::string_view message);

// Installs `action` (nullptr restores the default) and returns the previous one.
FatalAction set_fatal_action(FatalAction action);

// Thrown by `throw_fatal_error`, the action that tests and fuzz targets install.
struct FatalError : std::runtime_error {
  FatalError(int exit_status, std::string_view message)
      : std::runtime_error(std::string(message)), status(exit_status) {}
  int status = 1;
};
[[noreturn]] void throw_fatal_error(int status, std::string_view message);

// Writes `line` and a line break on `stream`, flushes both standard streams and ends the
// program with status 1 (through the fatal action).
[[noreturn]] void die(std::FILE* stream, std::string_view line);
// The same on standard error.
[[noreturn]] void die(std::string_view line);

// A vector of n value-initialised elements; a failed allocation is fatal with the module's
// "Memory allocation error" rather than an uncaught exception.
template <class T>
std::vector<T> allocate_or_die(std::size_t n) {
  try {
    return std::vector<T>(n);
  } catch (const std::bad_alloc&) {
    die("Memory allocation error");
  } catch (const std::length_error&) {
    die("Memory allocation error");
  }
}

// ---------------------------------------------------------------- sizes

// a * b, or nothing when the product does not fit in 64 bits (or either factor is negative).
std::optional<std::uint64_t> checked_mul(std::int64_t a, std::int64_t b);
// a + b under the same rule.
std::optional<std::uint64_t> checked_add(std::uint64_t a, std::uint64_t b);

// ---------------------------------------------------------------- files

struct FileCloser {
  void operator()(std::FILE* f) const noexcept { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// std::fopen with an owning result (null on failure, errno set).
FilePtr open_file(const std::string& path, const char* mode);
bool file_exists(const std::string& path);
// Size in bytes of a regular file, or nothing.
std::optional<std::uint64_t> file_size(const std::string& path);
// Reads exactly `bytes` bytes; false at end of file or on a read error.
bool read_exact(std::FILE* f, void* data, std::size_t bytes);

// Output that never leaves a half-written file in place of a good one: data goes to a
// temporary file beside the target, which `commit` flushes, syncs and renames onto the target.
// Targets that exist and are not regular files (devices, pipes) are written directly, since they
// cannot be replaced.
class ReplacingFile {
 public:
  // Null on failure, with errno describing it.
  static std::unique_ptr<ReplacingFile> create(const std::string& path);
  ~ReplacingFile();
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;

  std::FILE* get() const { return file_; }
  // True when every write reached the file and it now stands under the target's name. On
  // failure the target is untouched (for a regular file) and errno describes the failure.
  bool commit();

 private:
  ReplacingFile(std::string target, std::string temp, std::FILE* file);
  std::string target_;
  std::string temp_;  // empty when writing directly to the target
  std::FILE* file_ = nullptr;
  std::unique_ptr<char[]> buffer_;  // the stream's buffer, alive until it is closed
};

// ---------------------------------------------------------------- Fortran-style input

// Statuses of formatted reading: 0 success, negative end of file, positive bad data or a
// read error.
inline constexpr int kIoOk = 0;
inline constexpr int kIoEnd = -1;
inline constexpr int kIoBadData = 1;
inline constexpr int kIoReadError = 2;

// One edit descriptor: Fw.d (a real), Iw (an integer) or Aw (characters).
struct EditDescriptor {
  char kind = 'F';  // 'F', 'I' or 'A'
  int width = 0;
  int decimals = 0;
};

// A format such as "(10f8.3)" or "(3i8,f8.3)": a parenthesised list of optionally repeated
// F, I and A descriptors (case-insensitive). When a read asks for more values than the format
// holds, the format starts again on a new record, as Fortran does.
class Format {
 public:
  // Throws std::invalid_argument for a format outside that grammar (a programming error).
  explicit Format(std::string_view text);
  const std::vector<EditDescriptor>& items() const { return items_; }

 private:
  std::vector<EditDescriptor> items_;
};

// Field conversions. The field is the text of exactly one edit descriptor's columns (a shorter
// view is taken as padded with blanks). Blanks anywhere are ignored and an all-blank field
// reads as 0. An Fw.d field without a decimal point takes its last `decimals` digits as
// decimals; exponents are written as E, D or Q with an optional sign, or as a bare sign.
int read_f_field(std::string_view field, int decimals, float& value);
int read_i_field(std::string_view field, std::int32_t& value);

// List-directed reading of one value from `text`: leading blanks are skipped and the value ends
// at a blank, comma or slash. Statuses as above (an empty value is bad data).
int read_list_int(std::string_view text, std::int32_t& value);
int read_list_real(std::string_view text, float& value);

// Sequential records (lines) of a text file, read in large blocks. A trailing CR is not part
// of a record.
class RecordReader {
 public:
  explicit RecordReader(FilePtr file);
  // Opens `path` for reading; null when it cannot be opened.
  static std::unique_ptr<RecordReader> open(const std::string& path);
  // The next record, valid until the next call: kIoOk, kIoEnd, or kIoReadError.
  int next(std::string_view& record);

 private:
  bool refill();
  FilePtr file_;
  std::vector<char> buffer_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  bool eof_ = false;
  std::string carry_;  // a record that spans two blocks
};

// Formatted READ statements over a RecordReader: `start` begins a statement with a format,
// each value request consumes the next field, reading a new record when the format runs out.
// A short record is padded with blanks. The rest of a record is skipped when the next statement
// starts.
class FormattedReader {
 public:
  explicit FormattedReader(RecordReader& records) : records_(records) {}
  void start(const Format& format);
  int real(float& value);
  int integer(std::int32_t& value);
  int text(std::string& value);
  // One statement reading values.size() reals.
  int reals(const Format& format, std::span<float> values);
  // One statement reading one record as a single A-field of `length` characters.
  int line(std::size_t length, std::string& value);

 private:
  // Positions on the next field, which must be of kind `kind`: its text and descriptor.
  int field(char kind, std::string_view& text, EditDescriptor& descriptor);
  RecordReader& records_;
  std::optional<Format> format_;  // of the current statement
  std::size_t item_ = 0;
  std::size_t column_ = 0;
  bool need_record_ = true;
  std::string_view record_;
};

// ---------------------------------------------------------------- node trajectories (converters)

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

// ---------------------------------------------------------------- fixed-column number output

// `value` written as "%8.3f" into `field`; false when it is not finite or needs more than the
// 8 columns, so that it would shift every later column of a fixed-column file.
bool format_f8_3(double value, std::array<char, 16>& field);
// The three coordinates `xyz` times `scale` as "%8.3f" fields: -1 when all fit, otherwise the
// axis (0, 1 or 2) of the first that does not.
using PositionFields = std::array<std::array<char, 16>, 3>;
int format_position(const std::array<double, 3>& xyz, double scale, PositionFields& fields);

}  // namespace kvtraj

// Fortran-style formatted input: records (lines) read through an edit-descriptor format such
// as "(10f8.3)", "(3i8,f8.3)" or "(16a5)", the field conversions it rests on, and
// list-directed (free-format) number reading. Readers are independent objects: two threads may
// each use their own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "support/files.hpp"

#pragma GCC visibility push(default)  // the installed interface, exported by shared builds

namespace kvtraj {

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

// Sequential records (lines) of a text file, read in large blocks, or of bytes in memory. A
// trailing CR is not part of a record.
class RecordReader {
 public:
  explicit RecordReader(FilePtr file);
  // Opens `path` for reading; null when it cannot be opened.
  static std::unique_ptr<RecordReader> open(const std::string& path);
  // Reads the records of `bytes` (copied).
  static std::unique_ptr<RecordReader> over(std::span<const char> bytes);
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

}  // namespace kvtraj

#pragma GCC visibility pop

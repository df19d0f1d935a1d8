// Inside the topology readers: the text of a file in memory cut into numbered lines, fixed
// columns and whitespace-separated fields of a line, numbers read as Python's int() and float()
// read them (the readers must agree with MDAnalysis), and the one-line fatal messages that name
// the file and the line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kvtraj::topo {

// The lines of `text`, numbered from 1. A line ends at '\n' (not part of it), and a trailing
// '\r' is dropped too; a last line without '\n' still counts.
class Lines {
 public:
  explicit Lines(std::string_view text) : text_(text) {}
  // The next line, or false at the end of the text.
  bool next(std::string_view& line);
  // The number of the line `next` returned last (0 before the first).
  std::size_t number() const { return number_; }
  // Bytes not yet returned as lines.
  std::size_t remaining() const { return text_.size() - pos_; }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
  std::size_t number_ = 0;
};

bool is_blank(char c);
std::string_view trim(std::string_view text);
std::string_view trim_left(std::string_view text);
// Columns [begin, end) of `line` (0-based), cut short where the line is.
std::string_view columns(std::string_view line, std::size_t begin, std::size_t end);
// The whitespace-separated field starting at or after `pos`, which moves past it; empty at the end.
std::string_view next_field(std::string_view line, std::size_t& pos);

// A whole field read as Python's int(): blanks around it, an optional sign, decimal digits.
// Nothing when it is not such a number or does not fit 64 bits.
std::optional<std::int64_t> parse_integer(std::string_view field);
// A whole field read as Python's float() and rounded to single precision as numpy does (through
// double): blanks around it, an optional sign, digits with an optional point and exponent, or
// inf / nan.
std::optional<float> parse_real(std::string_view field);

// "SOURCE:LINE: what" (or "SOURCE: what" for line 0) through `die`.
[[noreturn]] void fail(const std::string& source, std::size_t line, std::string_view what);
[[noreturn]] void fail(const std::string& source, std::string_view what);
// `text` in quotes for a message, cut to 40 characters.
std::string quote(std::string_view text);

}  // namespace kvtraj::topo

#include "topology/text_scan.hpp"

#include <charconv>
#include <cstring>
#include <limits>

#include "support/fatal.hpp"

namespace kvtraj::topo {

bool Lines::next(std::string_view& line) {
  if (pos_ >= text_.size()) return false;
  const char* start = text_.data() + pos_;
  const void* newline = std::memchr(start, '\n', text_.size() - pos_);
  const std::size_t length =
      newline ? static_cast<std::size_t>(static_cast<const char*>(newline) - start)
              : text_.size() - pos_;
  pos_ += length + (newline ? 1 : 0);
  line = std::string_view(start, length);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  ++number_;
  return true;
}

bool is_blank(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');  // tab, line feed, vertical tab, form feed, CR
}

std::string_view trim_left(std::string_view text) {
  std::size_t begin = 0;
  while (begin < text.size() && is_blank(text[begin])) ++begin;
  return text.substr(begin);
}

std::string_view trim(std::string_view text) {
  text = trim_left(text);
  std::size_t end = text.size();
  while (end > 0 && is_blank(text[end - 1])) --end;
  return text.substr(0, end);
}

std::string_view columns(std::string_view line, std::size_t begin, std::size_t end) {
  if (begin >= line.size()) return {};
  return line.substr(begin, end - begin);
}

std::string_view next_field(std::string_view line, std::size_t& pos) {
  while (pos < line.size() && is_blank(line[pos])) ++pos;
  const std::size_t begin = pos;
  while (pos < line.size() && !is_blank(line[pos])) ++pos;
  return line.substr(begin, pos - begin);
}

std::optional<std::int64_t> parse_integer(std::string_view field) {
  field = trim(field);
  bool negative = false;
  if (!field.empty() && (field.front() == '+' || field.front() == '-')) {
    negative = field.front() == '-';
    field.remove_prefix(1);
  }
  if (field.empty()) return std::nullopt;
  std::uint64_t magnitude = 0;
  for (const char c : field) {
    if (c < '0' || c > '9') return std::nullopt;
    if (magnitude > (std::numeric_limits<std::uint64_t>::max() - 9) / 10) return std::nullopt;
    magnitude = magnitude * 10 + static_cast<std::uint64_t>(c - '0');
  }
  constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  if (magnitude > kMax) return std::nullopt;
  const auto value = static_cast<std::int64_t>(magnitude);
  return negative ? -value : value;
}

namespace {

// The common "-12.345": the digits as an integer over a power of ten, which one IEEE division
// rounds correctly, as from_chars would; nothing for any other form.
std::optional<double> short_decimal(std::string_view field) {
  constexpr double kPowers[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  const char* p = field.data();
  const char* const end = p + field.size();
  const bool negative = p != end && *p == '-';
  p += negative ? 1 : 0;
  std::uint64_t mantissa = 0;  // wraps when too long, and is then refused by the digit count
  const auto digits = [&] {
    const char* const start = p;
    for (; p != end && static_cast<unsigned char>(*p - '0') < 10; ++p) {
      mantissa = mantissa * 10 + static_cast<std::uint64_t>(*p - '0');
    }
    return p - start;
  };
  const auto whole = digits();
  if (p == end || *p != '.') return std::nullopt;
  ++p;
  const auto decimals = digits();
  if (p != end || whole + decimals == 0 || whole + decimals > 15) return std::nullopt;
  const double value = static_cast<double>(mantissa) / kPowers[decimals];
  return negative ? -value : value;
}

}  // namespace

std::optional<float> parse_real(std::string_view field) {
  field = trim(field);
  if (const auto quick = short_decimal(field)) return static_cast<float>(*quick);
  // from_chars takes a leading minus but not a plus.
  if (field.size() > 1 && field.front() == '+' && field[1] != '-') field.remove_prefix(1);
  double value = 0.0;
  const char* end = field.data() + field.size();
  const auto [stop, error] = std::from_chars(field.data(), end, value);
  if (field.empty() || error != std::errc() || stop != end) return std::nullopt;
  return static_cast<float>(value);
}

void fail(const std::string& source, std::size_t line, std::string_view what) {
  die(source + ":" + std::to_string(line) + ": " + std::string(what));
}

void fail(const std::string& source, std::string_view what) {
  die(source + ": " + std::string(what));
}

std::string quote(std::string_view text) {
  constexpr std::size_t kLongest = 40;
  std::string out(1, '"');
  for (const char c : text.substr(0, kLongest)) {
    out.push_back(static_cast<unsigned char>(c) < 0x20 ? '?' : c);  // keep the message one line
  }
  out.append(text.size() > kLongest ? "...\"" : "\"");
  return out;
}

}  // namespace kvtraj::topo

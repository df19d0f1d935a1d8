#include "topology/selection_values.hpp"

#include <cctype>
#include <cstdlib>
#include <limits>

namespace kvtraj::atomsel {
namespace {

constexpr std::size_t npos = std::string_view::npos;

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}
// Python's \w among single bytes.
bool is_word(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
}

// End of a run of digits from `pos` in which single underscores may separate digits (Python's
// number literals); `pos` itself when there is no digit there.
std::size_t digit_part(std::string_view s, std::size_t pos) {
  if (pos >= s.size() || !is_digit(s[pos])) return pos;
  std::size_t end = pos + 1;
  while (end < s.size()) {
    if (is_digit(s[end])) {
      ++end;
    } else if (s[end] == '_' && end + 1 < s.size() && is_digit(s[end + 1])) {
      end += 2;
    } else {
      break;
    }
  }
  return end;
}

// A signed integer of digits (underscores skipped), held at the 64-bit bounds.
std::int64_t saturated(std::string_view s) {
  const bool negative = !s.empty() && s[0] == '-';
  constexpr std::uint64_t kLimit = std::uint64_t{1} << 63;
  std::uint64_t magnitude = 0;
  for (const char c : s) {
    if (!is_digit(c)) continue;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    magnitude = magnitude > (kLimit - digit) / 10 ? kLimit : magnitude * 10 + digit;
  }
  if (negative) {
    return magnitude >= kLimit ? std::numeric_limits<std::int64_t>::min()
                               : -static_cast<std::int64_t>(magnitude);
  }
  return magnitude >= kLimit ? std::numeric_limits<std::int64_t>::max()
                             : static_cast<std::int64_t>(magnitude);
}

std::size_t sign_length(std::string_view s) {
  return !s.empty() && (s[0] == '+' || s[0] == '-') ? 1 : 0;
}

// Python's int() of a whole text.
std::optional<std::int64_t> python_int(std::string_view s) {
  const std::size_t start = sign_length(s);
  const std::size_t end = digit_part(s, start);
  if (end == start || end != s.size()) return std::nullopt;
  return saturated(s);
}

bool equals_lower(std::string_view s, std::string_view word) {
  if (s.size() != word.size()) return false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(s[i])) != word[i]) return false;
  }
  return true;
}

// Python's float() of a whole text: decimal digits with an optional point and exponent, or
// inf, infinity, nan in any case; an overflow gives infinity as in Python.
std::optional<double> python_float(std::string_view s) {
  const std::size_t start = sign_length(s);
  const std::string_view body = s.substr(start);
  const bool named =
      equals_lower(body, "inf") || equals_lower(body, "infinity") || equals_lower(body, "nan");
  if (!named) {
    std::size_t pos = digit_part(s, start);
    bool digits = pos > start;
    if (pos < s.size() && s[pos] == '.') {
      const std::size_t fraction = digit_part(s, pos + 1);
      digits = digits || fraction > pos + 1;
      pos = fraction;
    }
    if (!digits) return std::nullopt;
    if (pos < s.size() && (s[pos] == 'e' || s[pos] == 'E')) {
      const std::size_t exponent = pos + 1 + sign_length(s.substr(pos + 1));
      pos = digit_part(s, exponent);
      if (pos == exponent) return std::nullopt;
    }
    if (pos != s.size()) return std::nullopt;
  }
  std::string plain;
  for (const char c : s) {
    if (c != '_' && c != '+') plain += c;
  }
  return std::strtod(plain.c_str(), nullptr);
}

// Length of `-?\d+` at `pos` (0 when it does not match).
std::size_t int_length(std::string_view s, std::size_t pos) {
  const std::size_t digits = pos < s.size() && s[pos] == '-' ? pos + 1 : pos;
  std::size_t end = digits;
  while (end < s.size() && is_digit(s[end])) ++end;
  return end == digits ? 0 : end - pos;
}

// Length of MDAnalysis's float pattern `-?\d*\.?\d*(?:e[-+]?\d+)?` at `pos`, taken greedily (it
// may be empty). Every piece is optional and greedy, and a range separator cannot begin inside
// a number, so the greedy match is the one Python's regular expression finds.
std::size_t float_length(std::string_view s, std::size_t pos) {
  std::size_t end = pos;
  const auto digits = [&] {
    while (end < s.size() && is_digit(s[end])) ++end;
  };
  if (end < s.size() && s[end] == '-') ++end;
  digits();
  if (end < s.size() && s[end] == '.') ++end;
  digits();
  if (end < s.size() && s[end] == 'e') {
    std::size_t exponent = end + 1;
    if (exponent < s.size() && (s[exponent] == '-' || s[exponent] == '+')) ++exponent;
    std::size_t last = exponent;
    while (last < s.size() && is_digit(s[last])) ++last;
    if (last > exponent) end = last;
  }
  return end - pos;
}

// The end of the range separator `\s*(?:[:-]| to )\s*` at `pos`, or npos, tried in the order of
// Python's backtracking: the longest run of blanks first.
std::size_t after_separator(std::string_view s, std::size_t pos) {
  std::size_t blanks = 0;
  while (pos + blanks < s.size() && is_space(s[pos + blanks])) ++blanks;
  for (std::size_t k = blanks + 1; k-- > 0;) {
    const std::size_t at = pos + k;
    std::size_t end = npos;
    if (at < s.size() && (s[at] == ':' || s[at] == '-')) {
      end = at + 1;
    } else if (s.substr(at, 4) == " to ") {
      end = at + 4;
    }
    if (end == npos) continue;
    while (end < s.size() && is_space(s[end])) ++end;
    return end;
  }
  return npos;
}

bool is_separator(std::string_view t) {
  return t == "to" || t == ":" || t == "-";
}

bool ends_with_separator(std::string_view t) {
  return t.ends_with("to") || t.ends_with(':') || t.ends_with('-');
}

}  // namespace

bool is_space(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r') || (c >= '\x1c' && c <= '\x1f');
}

std::optional<std::vector<ValueText>> join_ranges(const std::vector<ValueText>& tokens,
                                                  std::int32_t& bad_column) {
  std::vector<ValueText> out;
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    const std::string& v = tokens[i].text;
    if (is_separator(v)) {
      if (out.empty() || i + 1 == tokens.size()) {
        bad_column = tokens[i].column;
        return std::nullopt;
      }
      out.back().text += " " + v + " " + tokens[++i].text;
    } else if (!out.empty() && (v.starts_with("--") || v.starts_with("to") || v[0] == ':' ||
                                ends_with_separator(out.back().text))) {
      out.back().text += " " + v;
    } else {
      out.push_back(tokens[i]);
    }
  }
  return out;
}

std::optional<IntRange> read_int_value(std::string_view text) {
  if (const auto v = python_int(text)) return IntRange{*v, *v};
  const std::size_t first = int_length(text, 0);
  if (first == 0) return std::nullopt;
  const std::size_t second = after_separator(text, first);
  if (second == npos) return std::nullopt;
  const std::size_t length = int_length(text, second);
  if (length == 0 || second + length != text.size()) return std::nullopt;
  return IntRange{saturated(text.substr(0, first)), saturated(text.substr(second))};
}

std::optional<FloatValue> read_float_value(std::string_view text) {
  if (const auto v = python_float(text)) return FloatValue{*v, *v, false};
  const std::size_t first = float_length(text, 0);
  const std::size_t second = after_separator(text, first);
  if (second == npos || second + float_length(text, second) != text.size()) return std::nullopt;
  const auto low = python_float(text.substr(0, first));
  const auto high = python_float(text.substr(second));
  if (!low || !high) return std::nullopt;
  return FloatValue{*low, *high, true};
}

std::optional<ResidValue> read_resid_value(std::string_view text) {
  const std::size_t first = int_length(text, 0);
  if (first == 0) return std::nullopt;
  const ResidueKey low{saturated(text.substr(0, first)), 0};
  if (first == text.size()) return ResidValue{low, low, false};
  const bool coded = is_word(text[first]);
  if (coded && first + 1 == text.size()) {
    const ResidueKey key{low.resid, static_cast<unsigned char>(text[first])};
    return ResidValue{key, key, false};
  }
  // `(-?\d+)(\w?)`, the separator, `(-?\d+)(\w?)`: the code is taken when a separator follows.
  std::size_t second = coded ? after_separator(text, first + 1) : npos;
  ResidValue value{low, {}, true};
  if (second != npos) {
    value.low.icode = static_cast<unsigned char>(text[first]);
  } else {
    second = after_separator(text, first);
  }
  if (second == npos) return std::nullopt;
  const std::size_t length = int_length(text, second);
  if (length == 0) return std::nullopt;
  std::size_t end = second + length;
  value.high.resid = saturated(text.substr(second, length));
  if (end < text.size() && is_word(text[end]))
    value.high.icode = static_cast<unsigned char>(text[end++]);
  if (end != text.size()) return std::nullopt;
  return value;
}

}  // namespace kvtraj::atomsel

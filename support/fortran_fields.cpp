// Conversions of single Fortran-style fields and of list-directed values.
#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>

#include "support/fortran_input.hpp"

namespace kvtraj {
namespace {

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

bool equals_nocase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != b[i]) return false;
  }
  return true;
}

std::string without_blanks(std::string_view field) {
  std::string out;
  out.reserve(field.size());
  for (char c : field) {
    if (c != ' ') out.push_back(c);
  }
  return out;
}

// "Inf", "Infinity" and "NaN" (any case), as Fortran run-time libraries accept them.
bool read_special(std::string_view body, bool negative, float& value) {
  if (equals_nocase(body, "inf") || equals_nocase(body, "infinity")) {
    value =
        negative ? -std::numeric_limits<float>::infinity() : std::numeric_limits<float>::infinity();
    return true;
  }
  if (body.size() >= 3 && equals_nocase(body.substr(0, 3), "nan") &&
      (body.size() == 3 || (body[3] == '(' && body.back() == ')'))) {
    value = std::numeric_limits<float>::quiet_NaN();
    return true;
  }
  return false;
}

// Turns the digits and decimal exponent of a parsed field into the nearest float.
int to_float(bool negative, const std::string& digits, long long exponent, float& value) {
  std::string text = digits;
  text += 'e';
  text += std::to_string(exponent);
  float f = 0.0f;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), f);
  if (ec == std::errc() && end == text.data() + text.size()) {
    value = negative ? -f : f;
    return kIoOk;
  }
  double d = 0.0;
  const auto [dend, dec] = std::from_chars(text.data(), text.data() + text.size(), d);
  if (dec == std::errc() && dend == text.data() + text.size()) {
    if (std::fabs(d) > std::numeric_limits<float>::max()) return kIoBadData;
    value = static_cast<float>(negative ? -d : d);
    return kIoOk;
  }
  // Out of the double range as well: the order of magnitude tells overflow from underflow.
  const auto first = digits.find_first_not_of('0');
  if (first == std::string::npos) {
    value = negative ? -0.0f : 0.0f;
    return kIoOk;
  }
  const long long magnitude = exponent + static_cast<long long>(digits.size() - first);
  if (magnitude > 0) return kIoBadData;
  value = negative ? -0.0f : 0.0f;
  return kIoOk;
}

int read_f_slow(std::string_view field, int decimals, float& value) {
  const std::string text = without_blanks(field);
  if (text.empty()) {
    value = 0.0f;
    return kIoOk;
  }
  std::size_t pos = 0;
  bool negative = false;
  if (text[pos] == '+' || text[pos] == '-') negative = text[pos++] == '-';
  if (read_special(std::string_view(text).substr(pos), negative, value)) return kIoOk;

  std::string digits;
  long long fraction_digits = -1;  // -1: no decimal point written
  for (; pos < text.size(); ++pos) {
    const char c = text[pos];
    if (is_digit(c)) {
      digits.push_back(c);
      if (fraction_digits >= 0) ++fraction_digits;
    } else if (c == '.' && fraction_digits < 0) {
      fraction_digits = 0;
    } else {
      break;
    }
  }
  if (digits.empty()) return kIoBadData;

  long long exponent = 0;
  if (pos < text.size()) {
    const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(text[pos])));
    if (c == 'E' || c == 'D' || c == 'Q')
      ++pos;
    else if (c != '+' && c != '-')
      return kIoBadData;
    bool negative_exponent = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
      negative_exponent = text[pos++] == '-';
    }
    if (pos == text.size()) return kIoBadData;
    for (; pos < text.size(); ++pos) {
      if (!is_digit(text[pos])) return kIoBadData;
      if (exponent < 1000000) exponent = exponent * 10 + (text[pos] - '0');
    }
    if (negative_exponent) exponent = -exponent;
  }
  exponent -= fraction_digits >= 0 ? fraction_digits : decimals;
  return to_float(negative, digits, exponent, value);
}

}  // namespace

int read_f_field(std::string_view field, int decimals, float& value) {
  const auto start = field.find_first_not_of(' ');
  if (start == std::string_view::npos) {
    value = 0.0f;
    return kIoOk;
  }
  // Common case: "  -1.234" with an explicit decimal point and nothing unusual.
  const std::string_view body = field.substr(start);
  if (body.front() != '+' && body.find(' ') == std::string_view::npos &&
      body.find('.') != std::string_view::npos) {
    float f = 0.0f;
    const auto [end, ec] = std::from_chars(body.data(), body.data() + body.size(), f);
    if (ec == std::errc() && end == body.data() + body.size()) {
      value = f;
      return kIoOk;
    }
  }
  return read_f_slow(field, decimals, value);
}

int read_i_field(std::string_view field, std::int32_t& value) {
  const std::string text = without_blanks(field);
  if (text.empty()) {
    value = 0;
    return kIoOk;
  }
  std::size_t pos = 0;
  bool negative = false;
  if (text[pos] == '+' || text[pos] == '-') negative = text[pos++] == '-';
  if (pos == text.size()) return kIoBadData;
  std::int64_t magnitude = 0;
  for (; pos < text.size(); ++pos) {
    if (!is_digit(text[pos])) return kIoBadData;
    magnitude = magnitude * 10 + (text[pos] - '0');
    if (magnitude > std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1) return kIoBadData;
  }
  const std::int64_t signed_value = negative ? -magnitude : magnitude;
  if (signed_value > std::numeric_limits<std::int32_t>::max()) return kIoBadData;
  value = static_cast<std::int32_t>(signed_value);
  return kIoOk;
}

namespace {

// The text of the first list-directed value: after leading blanks, up to a blank, comma or
// slash.
std::string_view list_value(std::string_view text) {
  const auto start = text.find_first_not_of(" \t");
  if (start == std::string_view::npos) return {};
  text.remove_prefix(start);
  return text.substr(0, text.find_first_of(" \t,/"));
}

}  // namespace

int read_list_int(std::string_view text, std::int32_t& value) {
  const std::string_view item = list_value(text);
  if (item.empty()) return kIoBadData;
  return read_i_field(item, value);
}

int read_list_real(std::string_view text, float& value) {
  const std::string_view item = list_value(text);
  if (item.empty()) return kIoBadData;
  return read_f_field(item, 0, value);
}

}  // namespace kvtraj

// xparse: the frame selection between the parentheses of a trajectory name.
#include <algorithm>
#include <array>

#include "trajsrc/trajsrc.hpp"

namespace kvtraj {
namespace {

constexpr std::int32_t kBadNumber = -3;

// The number at the start of `part` (leading blanks skipped; a blank ends it, as a list-directed
// read would); `present` is false when the part has no digits.
struct Number {
  bool present = false;
  bool too_large = false;
  std::int32_t value = 0;
};

Number read_number(std::string_view part) {
  Number n;
  std::size_t pos = part.find_first_not_of(' ');
  std::int64_t value = 0;
  for (; pos < part.size() && part[pos] != ' '; ++pos) {
    value = value * 10 + (part[pos] - '0');
    n.present = true;
    if (value > INT32_MAX) {
      n.too_large = true;
      return n;
    }
  }
  n.value = static_cast<std::int32_t>(value);
  return n;
}

// Stores a number that was written; false when it is too large.
bool take(const Number& n, std::int32_t& target) {
  if (n.too_large) return false;
  if (n.present) target = n.value;
  return true;
}

}  // namespace

void xparse(std::string_view selection, std::int32_t& first, std::int32_t& last,
            std::int32_t& stride, std::int32_t& error) {
  first = 1;
  last = 0;
  stride = 1;
  error = 0;
  const std::size_t bad = selection.find_first_not_of("0123456789: ");
  if (bad != std::string_view::npos) {
    error = static_cast<std::int32_t>(bad + 1);
    return;
  }
  if (selection.find_first_not_of(' ') == std::string_view::npos) return;
  const auto colons = std::count(selection.begin(), selection.end(), ':');
  if (colons >= 3) {
    error = -2;
    return;
  }
  std::array<std::string_view, 3> parts{};
  std::size_t start = 0;
  for (std::size_t k = 0; k <= static_cast<std::size_t>(colons); ++k) {
    const std::size_t end = std::min(selection.find(':', start), selection.size());
    parts[k] = selection.substr(start, end - start);
    start = end + 1;
  }
  bool ok = take(read_number(parts[0]), first);
  if (colons == 0) {
    last = first;
  } else {
    ok = take(read_number(parts[1]), last) && ok;
    if (colons == 2) ok = take(read_number(parts[2]), stride) && ok;
  }
  // Frame 0, stride 0 and a last frame before the first select nothing sensible.
  if (!ok || first == 0 || stride == 0 || (last != 0 && last < first)) error = kBadNumber;
}

}  // namespace kvtraj

// The values that follow numeric selection keywords, read exactly as MDAnalysis reads them:
// tokens around a range separator are joined first ("1 to 5", "1 - 5", "1 :5" are one value),
// then each value is a number (Python's int() or float()) or a range `a:b`, `a-b`, `a to b`;
// residue numbers may carry an insertion code ("10A", "163A-163C"). Where MDAnalysis reads the
// start of a value as a range and ignores the rest ("1-10,20"), these readers refuse the value.
// Numbers beyond 64 bits are held at the nearest 64-bit bound, which compares alike with every
// number a topology holds.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kvtraj::atomsel {

struct ValueText {
  std::string text;
  std::int32_t column = 0;  // 1-based, of the value's first token
};

// MDAnalysis's join_separated_values. On failure (a separator with no value before or after
// it) nothing, and `bad_column` is the separator's column.
std::optional<std::vector<ValueText>> join_ranges(const std::vector<ValueText>& tokens,
                                                  std::int32_t& bad_column);

// Inclusive; a single number n is [n, n].
struct IntRange {
  std::int64_t low = 0, high = 0;
};
std::optional<IntRange> read_int_value(std::string_view text);

// A single value compares within MDAnalysis's float tolerance (numpy.isclose, atol 1e-8,
// rtol 1e-5); a range is inclusive.
struct FloatValue {
  double low = 0.0, high = 0.0;
  bool range = false;
};
std::optional<FloatValue> read_float_value(std::string_view text);

// A residue number with its insertion code (0 for none).
struct ResidueKey {
  std::int64_t resid = 0;
  unsigned char icode = 0;
};
struct ResidValue {
  ResidueKey low, high;
  bool range = false;
  bool has_icode() const { return low.icode != 0 || (range && high.icode != 0); }
};
std::optional<ResidValue> read_resid_value(std::string_view text);

// Python's str.split() whitespace among single bytes (ASCII controls \x1c-\x1f included).
bool is_space(char c);

}  // namespace kvtraj::atomsel

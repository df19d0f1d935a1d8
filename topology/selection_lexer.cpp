#include <cstdint>

#include "support/fatal.hpp"
#include "topology/selection_tree.hpp"

namespace kvtraj::atomsel {
namespace {

// Texts longer than this are cut in messages; columns still count in the whole text.
constexpr std::size_t kShownLength = 160;

std::int32_t column_of(std::size_t pos) {
  return static_cast<std::int32_t>(pos + 1);
}

}  // namespace

void fail(std::string_view text, const std::string& what) {
  // The text is shown on one line: line breaks and other controls become blanks.
  std::string shown(text.substr(0, kShownLength));
  for (char& c : shown) {
    if (static_cast<unsigned char>(c) < 0x20 || c == '\x7f') c = ' ';
  }
  if (text.size() > kShownLength) shown += "...";
  die("selection \"" + shown + "\": " + what);
}

std::string at_column(std::int32_t column) {
  return "at column " + std::to_string(column);
}

std::vector<Token> lex(std::string_view text) {
  if (text.size() >= static_cast<std::size_t>(INT32_MAX)) fail(text.substr(0, 40), "too long");
  std::vector<Token> tokens;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const char c = text[pos];
    if (is_space(c)) {
      ++pos;
    } else if (c == '(' || c == ')') {
      tokens.push_back({c == '(' ? TokenKind::open : TokenKind::close, {c}, column_of(pos)});
      ++pos;
    } else if (c == '"') {
      const std::size_t close = text.find('"', pos + 1);
      if (close == std::string_view::npos) {
        fail(text, "the quote " + at_column(column_of(pos)) + " is not closed");
      }
      tokens.push_back(
          {TokenKind::quoted, std::string(text.substr(pos + 1, close - pos - 1)), column_of(pos)});
      pos = close + 1;
    } else {
      std::size_t end = pos;
      while (end < text.size() && !is_space(text[end]) && text[end] != '(' && text[end] != ')') {
        ++end;
      }
      tokens.push_back({TokenKind::word, std::string(text.substr(pos, end - pos)), column_of(pos)});
      pos = end;
    }
  }
  tokens.push_back({TokenKind::end, {}, column_of(text.size())});
  return tokens;
}

}  // namespace kvtraj::atomsel

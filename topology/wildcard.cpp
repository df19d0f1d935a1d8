#include "topology/wildcard.hpp"

namespace kvtraj {
namespace {

// Backslash-escapes every character of `text` found in `special`.
std::string escaped(std::string_view text, std::string_view special) {
  std::string out;
  for (const char c : text) {
    if (special.find(c) != std::string_view::npos) out += '\\';
    out += c;
  }
  return out;
}

// What fnmatch.translate writes between the brackets for the set pattern[i, j): with hyphens,
// the text is cut into chunks at the hyphens that make ranges, reversed ranges are dropped by
// merging their chunks, and the hyphens and backslashes left inside chunks are escaped. No chunk
// is empty where it is read: the first holds at least one character (two after a "!"), later
// ones at least two but the last, and a merge leaves an empty chunk only first and alone.
std::string set_text(std::string_view pattern, std::size_t i, std::size_t j) {
  const std::string_view inside = pattern.substr(i, j - i);
  std::string text;
  if (inside.find('-') == std::string_view::npos) {
    text = escaped(inside, "\\");
  } else {
    std::vector<std::string> chunks;
    std::size_t k = pattern[i] == '!' ? i + 2 : i + 1;
    while (k < j && (k = pattern.substr(0, j).find('-', k)) != std::string_view::npos) {
      chunks.emplace_back(pattern.substr(i, k - i));
      i = k + 1;
      k += 3;
    }
    if (i < j) {
      chunks.emplace_back(pattern.substr(i, j - i));
    } else {
      chunks.back() += '-';
    }
    for (std::size_t c = chunks.size() - 1; c > 0; --c) {
      std::string& before = chunks[c - 1];
      if (static_cast<unsigned char>(before.back()) >
          static_cast<unsigned char>(chunks[c].front())) {
        before.pop_back();
        before += chunks[c].substr(1);
        chunks.erase(chunks.begin() + static_cast<std::ptrdiff_t>(c));
      }
    }
    for (std::size_t c = 0; c < chunks.size(); ++c) {
      if (c > 0) text += '-';
      text += escaped(chunks[c], "\\-");
    }
  }
  return escaped(text, "&~|");
}

}  // namespace

bool Wildcard::Piece::accepts(unsigned char c) const {
  bool in = false;
  for (const Range& r : ranges) in = in || (c >= r.low && c <= r.high);
  return in != negated;
}

// Reads the set "[" + body + "]" as Python's regular expressions do: a leading `^` negates,
// a `]` first is a member, `a-b` is a range unless the `-` comes last, `\x` is the character x.
// fnmatch's text always ends inside the set and holds no reversed range.
Wildcard::Piece Wildcard::parse_set(std::string_view body) {
  const std::string source = std::string(body) + "]";
  Piece set;
  std::size_t pos = 0;
  if (source[0] == '^') {
    set.negated = true;
    ++pos;
  }
  const auto next = [&] {
    if (source.at(pos) == '\\') ++pos;
    return static_cast<unsigned char>(source.at(pos++));
  };
  while (pos < source.size() && !(source[pos] == ']' && !set.ranges.empty())) {
    const unsigned char low = next();
    if (source.at(pos) != '-') {
      set.ranges.push_back({low, low});
    } else if (source.at(++pos) == ']') {
      set.ranges.push_back({low, low});
      set.ranges.push_back({'-', '-'});
      break;
    } else {
      set.ranges.push_back({low, next()});
    }
  }
  return set;
}

Wildcard Wildcard::compile(std::string_view pattern) {
  Wildcard w;
  const Piece any{false, true, {}};
  const auto literal = [](unsigned char c) { return Piece{false, false, {{c, c}}}; };
  const std::size_t n = pattern.size();
  std::size_t i = 0;
  while (i < n) {
    const char c = pattern[i++];
    if (c == '*') {
      if (w.pieces_.empty() || !w.pieces_.back().star) w.pieces_.push_back(Piece{true, false, {}});
    } else if (c == '?') {
      w.pieces_.push_back(any);
    } else if (c == '[') {
      std::size_t j = i;
      if (j < n && pattern[j] == '!') ++j;
      if (j < n && pattern[j] == ']') ++j;
      while (j < n && pattern[j] != ']') ++j;
      if (j >= n) {
        w.pieces_.push_back(literal('['));
        continue;
      }
      std::string text = set_text(pattern, i, j);
      i = j + 1;
      if (text.empty()) {
        w.pieces_.push_back(Piece{});  // an empty set: never matches
      } else if (text == "!") {
        w.pieces_.push_back(any);
      } else {
        if (text[0] == '!') {
          text[0] = '^';
        } else if (text[0] == '^' || text[0] == '[') {
          text = std::string(1, '\\').append(text);
        }
        w.pieces_.push_back(parse_set(text));
      }
    } else {
      w.pieces_.push_back(literal(static_cast<unsigned char>(c)));
    }
  }
  return w;
}

// The whole text against the pattern; a mismatch after a star retries with the star taking one
// more character, which finds a match whenever there is one since every other piece is one
// character wide.
bool Wildcard::matches(std::string_view text) const {
  const std::size_t n = pieces_.size();
  std::size_t p = 0, t = 0;
  std::size_t star = n, star_text = 0;
  while (t < text.size()) {
    if (p < n && pieces_[p].star) {
      star = p++;
      star_text = t;
    } else if (p < n && pieces_[p].accepts(static_cast<unsigned char>(text[t]))) {
      ++p;
      ++t;
    } else if (star < n) {
      p = star + 1;
      t = ++star_text;
    } else {
      return false;
    }
  }
  while (p < n && pieces_[p].star) ++p;
  return p == n;
}

}  // namespace kvtraj

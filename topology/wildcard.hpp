// Shell-style text patterns as Python's fnmatch.fnmatchcase reads them, which is how MDAnalysis
// matches names in selections: `*` any run of characters, `?` one character, `[seq]` and
// `[!seq]` a set of characters with ranges such as `[1-3]`; every other character stands for
// itself, case-sensitive. Sets keep fnmatch's quirks (a `]` first in a set is a member, a `[`
// without its `]` is a plain character, a reversed range is empty). Texts are compared byte by
// byte, which is fnmatch's character by character for the ASCII of topology files.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kvtraj {

class Wildcard {
 public:
  // Every text is a pattern.
  static Wildcard compile(std::string_view pattern);
  bool matches(std::string_view text) const;

 private:
  struct Range {
    unsigned char low = 0, high = 0;
  };
  // One character of the pattern: a literal is a set of one range; a star matches any run.
  struct Piece {
    bool star = false;
    bool negated = false;
    std::vector<Range> ranges;  // empty and not negated: matches nothing
    bool accepts(unsigned char c) const;
  };
  static Piece parse_set(std::string_view body);
  std::vector<Piece> pieces_;
};

}  // namespace kvtraj

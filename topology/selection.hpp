// Atom selections in the language of MDAnalysis's `select_atoms`, so that a selection pasted
// from a user's script picks the same atoms: keywords (`all`, `protein`, `backbone`, `nucleic`,
// `name`, `type`, `element`, `resname`, `resid`, `resnum`, `segid`, `chainID`, `index` from 0,
// `bynum` from 1, `mass`, `charge`, `group`), `and` / `or` / `not` and parentheses, several
// values meaning "or", ranges `a:b`, `a-b` and `a to b`, and the wildcards `*`, `?` and `[...]`
// in texts. As in MDAnalysis, `and` and `or` bind alike from left to right ("a or b and c" is
// "(a or b) and c"), keywords are case-sensitive, and with insertion codes in the topology
// `resid 10` means residue 10 without one. `group NAME` names an index group; a name with
// blanks is written in double quotes.
//
// The text is compiled once (lexer, recursive-descent parser, expression tree) and each node is
// evaluated over all atoms at once; texts are matched against each distinct value of a column,
// not atom by atom.
//
// A syntax error names the column and what was expected; an unknown keyword (MDAnalysis's
// others too: around, byres, same ... as), an unknown index group, a keyword whose attribute the
// topology lacks and a selection that selects nothing are errors as well (never "all atoms").
// Errors end through `die` with one line: `selection "TEXT": what at column N`.
//
// Threads: a Selection is a read-only value; evaluate may run on several threads at once.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "topology/topology.hpp"

#pragma GCC visibility push(default)  // the installed interface, exported by shared builds

namespace kvtraj {

namespace atomsel {
struct SelectionTree;
}

class Selection {
 public:
  // Compiles `text`; syntax errors, unknown keywords and unreadable values end through `die`.
  static Selection parse(std::string_view text);
  // The atoms of `top` selected, as ascending 0-based indices. `groups` (may be null) are the
  // index groups that `group NAME` names.
  std::vector<std::int32_t> evaluate(const Topology& top,
                                     const IndexGroups* groups = nullptr) const;
  const std::string& text() const;

 private:
  explicit Selection(std::shared_ptr<const atomsel::SelectionTree> tree);
  std::shared_ptr<const atomsel::SelectionTree> tree_;
};

// Selection::parse(text).evaluate(top, groups).
std::vector<std::int32_t> select_atoms(const Topology& top, std::string_view text,
                                       const IndexGroups* groups = nullptr);

}  // namespace kvtraj

#pragma GCC visibility pop

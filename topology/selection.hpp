// Atom selections in the language of MDAnalysis's `select_atoms`, so that a selection pasted
// from a user's script picks the same atoms: keywords (`all`, `protein`, `backbone`, `nucleic`,
// `name`, `type`, `element`, `resname`, `resid`, `resnum`, `segid`, `chainID`, `index` from 0,
// `bynum` from 1, `mass`, `group`), `and` / `or` / `not` and parentheses, several values meaning
// "or", ranges `a:b`, `a-b` and `a to b`, and the wildcards `*` and `?` in texts.
//
// The text is compiled once (lexer, recursive-descent parser, expression tree) and each node is
// evaluated over all atoms at once; texts are matched against each distinct value of a column,
// not atom by atom.
//
// A syntax error names the position and what was expected; an unknown keyword, an unknown index
// group and a selection that selects nothing are errors too (never "all atoms"). Errors end
// through `die` with one line.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "topology/topology.hpp"

namespace kvtraj {

// The atoms of `top` that `text` selects, as ascending 0-based indices. `groups` (may be null)
// are the index groups that `group NAME` names.
std::vector<std::int32_t> select_atoms(const Topology& top, std::string_view text,
                                       const IndexGroups* groups = nullptr);

}  // namespace kvtraj

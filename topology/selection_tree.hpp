// The compiled form of an atom selection (topology/selection.hpp): the tokens of its text, the
// expression tree the parser makes of them, and the keyword tables — ours, MDAnalysis's (whose
// keywords end a list of values even where we do not support them) and the residue and atom
// names behind `protein`, `backbone` and `nucleic`.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "topology/selection_values.hpp"
#include "topology/wildcard.hpp"

namespace kvtraj::atomsel {

// Words are split at blanks and parentheses, as MDAnalysis splits them; a word that begins with
// a double quote runs to the next double quote (a group name with blanks).
enum class TokenKind { word, quoted, open, close, end };
struct Token {
  TokenKind kind = TokenKind::end;
  std::string text;
  std::int32_t column = 0;  // 1-based; the end token's is one past the text
};
// Ends through `die` on a quote left open.
std::vector<Token> lex(std::string_view text);

enum class Keyword {
  all,
  protein,
  backbone,
  nucleic,
  name,
  type,
  element,
  resname,
  segid,
  chain,
  resid,
  resnum,
  index,
  bynum,
  mass,
  charge,
  group,
};
// A keyword we evaluate, spelt as MDAnalysis spells it (case-sensitive; chainID also lowercase).
std::optional<Keyword> find_keyword(std::string_view word);
// Any word MDAnalysis reads as a keyword or an operator: where a list of values ends.
bool is_mdanalysis_keyword(std::string_view word);
bool is_protein_residue(std::string_view resname);
bool is_nucleic_residue(std::string_view resname);
bool is_backbone_atom(std::string_view name);

struct Node {
  enum class Kind { test, negation, sequence };
  Kind kind = Kind::test;
  std::int32_t column = 0;  // of the keyword, "not" or the first operand
  // A test: its keyword and values (the member its keyword uses).
  Keyword keyword = Keyword::all;
  std::vector<Wildcard> patterns;  // name, type, element, resname, segid, chainID
  std::vector<IntRange> ranges;    // resnum, index, bynum (as given)
  std::vector<FloatValue> reals;   // mass, charge
  std::vector<ResidValue> resids;  // resid
  std::string group;               // group
  // A negation has one operand; a sequence two or more, combined left to right with equal
  // precedence as MDAnalysis does ("a or b and c" is "(a or b) and c").
  std::vector<std::size_t> operands;
  std::vector<bool> conjunctions;  // sequence: operand k + 1 is joined by "and" (else "or")
};

struct SelectionTree {
  std::string text;
  std::vector<Node> nodes;
  std::size_t root = 0;
};
// Ends through `die` on a syntax error, an unknown keyword or a bad value.
SelectionTree parse(std::string_view text);

// Ends through `die` with `selection "TEXT": what`.
[[noreturn]] void fail(std::string_view text, const std::string& what);
std::string at_column(std::int32_t column);

}  // namespace kvtraj::atomsel

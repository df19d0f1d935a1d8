// The recursive-descent parser of atom selections, after MDAnalysis's SelectionParser:
//   sequence := unary (("and" | "or") unary)*     both operators of one precedence, left first
//   unary    := "not" unary | "(" sequence ")" | keyword values
// A keyword's values are the words up to the next keyword or operator of MDAnalysis, so that a
// keyword we do not support is never read as a value.
#include "topology/selection_tree.hpp"

namespace kvtraj::atomsel {
namespace {

// Deeper nesting is refused: each level holds atom sets while it is evaluated.
constexpr int kMaxDepth = 100;

std::string quoted(std::string_view word) {
  std::string out(1, '"');
  out.append(word).push_back('"');
  return out;
}

// A keyword of MDAnalysis that is not ours (nor one of the operators).
bool unsupported_keyword(std::string_view word) {
  return is_mdanalysis_keyword(word) && !find_keyword(word) && word != "not" && word != "and" &&
         word != "or";
}

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text), tokens_(lex(text)) {}

  SelectionTree run() {
    const std::size_t root = sequence(0);
    const Token& t = peek();
    if (t.kind == TokenKind::close) error("unexpected \")\" " + at_column(t.column));
    if (t.kind == TokenKind::quoted) misplaced_quote(t);
    if (t.kind != TokenKind::end) {
      if (t.kind == TokenKind::word && unsupported_keyword(t.text)) unsupported(t);
      error("expected \"and\" or \"or\" before " + quoted(t.text) + " " + at_column(t.column));
    }
    return SelectionTree{std::string(text_), std::move(nodes_), root};
  }

 private:
  const Token& peek() const { return tokens_[pos_]; }
  const Token& take() { return tokens_[pos_ == tokens_.size() - 1 ? pos_ : pos_++]; }
  bool at_operator() const {
    return peek().kind == TokenKind::word && (peek().text == "and" || peek().text == "or");
  }
  // What came before the current token, for "expected ... after X".
  std::string after() const {
    return pos_ == 0 ? std::string() : " after " + quoted(tokens_[pos_ - 1].text);
  }
  [[noreturn]] void error(const std::string& what) const { fail(text_, what); }
  [[noreturn]] void unsupported(const Token& t) const {
    error("unknown keyword " + quoted(t.text) + " " + at_column(t.column) +
          " (an MDAnalysis keyword not supported here)");
  }
  [[noreturn]] void misplaced_quote(const Token& t) const {
    error("a quoted name " + at_column(t.column) + ": quotes only enclose a group name");
  }

  std::size_t add(Node node) {
    nodes_.push_back(std::move(node));
    return nodes_.size() - 1;
  }

  std::size_t sequence(int depth) {
    const std::size_t first = unary(depth);
    if (!at_operator()) return first;
    Node seq;
    seq.kind = Node::Kind::sequence;
    seq.column = nodes_[first].column;
    seq.operands.push_back(first);
    while (at_operator()) {
      seq.conjunctions.push_back(take().text == "and");
      seq.operands.push_back(unary(depth));
    }
    return add(std::move(seq));
  }

  std::size_t unary(int depth) {
    const Token& t = peek();
    const bool nests = t.kind == TokenKind::open || (t.kind == TokenKind::word && t.text == "not");
    if (nests && depth == kMaxDepth) {
      error("nested more than " + std::to_string(kMaxDepth) + " deep " + at_column(t.column));
    }
    if (t.kind == TokenKind::open) {
      take();
      const std::size_t inner = sequence(depth + 1);
      if (peek().kind != TokenKind::close) {
        error("expected \")\" for the \"(\" " + at_column(t.column) + " " +
              at_column(peek().column));
      }
      take();
      return inner;
    }
    if (t.kind == TokenKind::quoted) misplaced_quote(t);
    if (t.kind != TokenKind::word || at_operator()) {
      error("expected a keyword" + after() + " " + at_column(t.column));
    }
    if (t.text == "not") {
      Node negation;
      negation.kind = Node::Kind::negation;
      negation.column = take().column;
      negation.operands.push_back(unary(depth + 1));
      return add(std::move(negation));
    }
    const auto keyword = find_keyword(t.text);
    if (!keyword) {
      if (unsupported_keyword(t.text)) unsupported(t);
      error("unknown keyword " + quoted(t.text) + " " + at_column(t.column));
    }
    return add(test(*keyword, take()));
  }

  // The words after a keyword, up to the next keyword, operator or parenthesis.
  std::vector<ValueText> values(const Token& keyword) {
    std::vector<ValueText> out;
    while (peek().kind == TokenKind::word && !is_mdanalysis_keyword(peek().text)) {
      out.push_back({peek().text, take().column});
    }
    if (peek().kind == TokenKind::quoted) misplaced_quote(peek());
    if (out.empty()) {
      error("expected a value after " + quoted(keyword.text) + " " + at_column(peek().column));
    }
    return out;
  }

  std::vector<ValueText> joined_values(const Token& keyword) {
    std::int32_t bad = 0;
    auto joined = join_ranges(values(keyword), bad);
    if (!joined) error("the range separator " + at_column(bad) + " needs a value on each side");
    return std::move(*joined);
  }

  template <class Reader>
  auto numbers(const Token& keyword, Reader read, std::string_view what) {
    std::vector<typename decltype(read(std::string_view()))::value_type> out;
    for (const ValueText& v : joined_values(keyword)) {
      const auto value = read(v.text);
      if (!value) {
        error(quoted(v.text) + " " + at_column(v.column) + " is not " + std::string(what) +
              " for " + quoted(keyword.text));
      }
      out.push_back(*value);
    }
    return out;
  }

  Node test(Keyword keyword, const Token& t) {
    Node node;
    node.keyword = keyword;
    node.column = t.column;
    switch (keyword) {
      case Keyword::all:
      case Keyword::protein:
      case Keyword::backbone:
      case Keyword::nucleic:
        break;
      case Keyword::name:
      case Keyword::type:
      case Keyword::element:
      case Keyword::resname:
      case Keyword::segid:
      case Keyword::chain:
        for (const ValueText& v : values(t)) node.patterns.push_back(Wildcard::compile(v.text));
        break;
      case Keyword::resid:
        node.resids = numbers(t, read_resid_value, "a residue number or range");
        break;
      case Keyword::resnum:
      case Keyword::index:
      case Keyword::bynum:
        node.ranges = numbers(t, read_int_value, "a whole number or range");
        break;
      case Keyword::mass:
      case Keyword::charge:
        node.reals = numbers(t, read_float_value, "a number or range");
        break;
      case Keyword::group: {
        const Token& name = peek();
        if (name.kind != TokenKind::word && name.kind != TokenKind::quoted) {
          error("expected a group name after \"group\" " + at_column(name.column));
        }
        node.group = take().text;
        break;
      }
    }
    return node;
  }

  std::string_view text_;
  std::vector<Token> tokens_;
  std::size_t pos_ = 0;
  std::vector<Node> nodes_;
};

}  // namespace

SelectionTree parse(std::string_view text) {
  return Parser(text).run();
}

}  // namespace kvtraj::atomsel

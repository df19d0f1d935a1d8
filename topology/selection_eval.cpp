// Evaluation of a selection's tree over all atoms at once: each node gives an AtomSet; text
// tests match each distinct value of their column once and map the verdicts to the atoms.
#include <algorithm>
#include <cmath>

#include "topology/atom_set.hpp"
#include "topology/selection.hpp"
#include "topology/selection_tree.hpp"

namespace kvtraj {
namespace atomsel {
namespace {

// numpy.isclose's default tolerances, which MDAnalysis keeps for single values.
constexpr double kAbsoluteTolerance = 1e-8;
constexpr double kRelativeTolerance = 1e-5;

unsigned char icode_key(char icode) {
  return icode == ' ' ? 0 : static_cast<unsigned char>(icode);
}

// Residue (resid, icode) against one value, as MDAnalysis's ResidSelection compares them when
// the topology has insertion codes: `10` is 10 without a code; a range from a to b takes a with
// a code at or after the first one, everything strictly between, and b with a code up to the
// last one (so `10-12` leaves out 12A, and a reversed range takes both ends).
bool resid_accepts(const ResidValue& v, std::int64_t resid, unsigned char icode) {
  if (!v.range) return resid == v.low.resid && icode == v.low.icode;
  if (v.low.resid == v.high.resid) {
    return resid == v.low.resid && icode >= v.low.icode && icode <= v.high.icode;
  }
  return (resid == v.low.resid && icode >= v.low.icode) ||
         (resid > v.low.resid && resid < v.high.resid) ||
         (resid == v.high.resid && icode <= v.high.icode);
}

// Inclusive ranges sorted and merged, for a binary search per atom.
std::vector<IntRange> merged(std::vector<IntRange> ranges) {
  std::erase_if(ranges, [](const IntRange& r) { return r.low > r.high; });
  std::sort(ranges.begin(), ranges.end(),
            [](const IntRange& a, const IntRange& b) { return a.low < b.low; });
  std::vector<IntRange> out;
  for (const IntRange& r : ranges) {
    if (!out.empty() && r.low <= out.back().high) {
      out.back().high = std::max(out.back().high, r.high);
    } else {
      out.push_back(r);
    }
  }
  return out;
}

bool in_ranges(const std::vector<IntRange>& sorted, std::int64_t v) {
  const auto after = std::upper_bound(sorted.begin(), sorted.end(), v,
                                      [](std::int64_t x, const IntRange& r) { return x < r.low; });
  return after != sorted.begin() && v <= std::prev(after)->high;
}

// One value of `mass` or `charge`, prepared for testing every atom. Masses and charges are held
// in single precision, so range bounds are compared in single precision too: a bound written as
// a value of the file then takes that value in. A single value compares as numpy.isclose does.
class RealTest {
 public:
  explicit RealTest(const FloatValue& v)
      : range_(v.range),
        finite_(std::isfinite(v.low)),
        low_(static_cast<float>(v.low)),
        high_(static_cast<float>(v.high)),
        value_(v.low),
        tolerance_(kAbsoluteTolerance + kRelativeTolerance * std::fabs(v.low)) {}
  bool accepts(float x) const {
    if (range_) return x >= low_ && x <= high_;
    if (!finite_) return static_cast<double>(x) == value_;
    return std::fabs(static_cast<double>(x) - value_) <= tolerance_;
  }

 private:
  bool range_ = false, finite_ = true;
  float low_ = 0.0f, high_ = 0.0f;
  double value_ = 0.0, tolerance_ = 0.0;
};

// Chain IDs and insertion codes as MDAnalysis has them: for PDB files, blank or not. Other
// formats hold none, and their readers fill the columns with blanks; a topology built otherwise
// holds them when a column is full and not all blank.
bool holds_chains(const Topology& top, std::size_t natoms) {
  if (top.chains.size() != natoms) return false;
  const auto& values = top.chains.values();
  return top.format == "PDB" || values.size() > 1 || (values.size() == 1 && !values[0].empty());
}

bool holds_icodes(const Topology& top, std::size_t natoms) {
  if (top.icodes.size() != natoms) return false;
  return top.format == "PDB" || std::any_of(top.icodes.begin(), top.icodes.end(),
                                            [](char c) { return icode_key(c) != 0; });
}

class Evaluator {
 public:
  Evaluator(const SelectionTree& tree, const Topology& top, const IndexGroups* groups)
      : tree_(tree), top_(top), groups_(groups), natoms_(top.names.size()) {}

  AtomSet eval(std::size_t index) const {
    const Node& node = tree_.nodes[index];
    switch (node.kind) {
      case Node::Kind::negation: {
        AtomSet set = eval(node.operands[0]);
        set.complement();
        return set;
      }
      case Node::Kind::sequence: {
        AtomSet set = eval(node.operands[0]);
        for (std::size_t k = 1; k < node.operands.size(); ++k) {
          if (node.conjunctions[k - 1]) {
            set &= eval(node.operands[k]);
          } else {
            set |= eval(node.operands[k]);
          }
        }
        return set;
      }
      case Node::Kind::test:
        break;
    }
    return test(node);
  }

 private:
  [[noreturn]] void lacks(const Node& node, std::string_view what) const {
    fail(tree_.text, "the topology holds no " + std::string(what) + " for the keyword " +
                         at_column(node.column));
  }

  // The atoms whose value in `column` passes `pass`, which sees each distinct value once.
  template <class Pass>
  AtomSet matching(const TextColumn& column, Pass&& pass) const {
    const std::vector<std::string>& values = column.values();
    std::vector<std::uint8_t> verdict(values.size());
    for (std::size_t v = 0; v < values.size(); ++v) verdict[v] = pass(values[v]) ? 1 : 0;
    const std::vector<std::uint32_t>& of = column.indices();
    return AtomSet::of(natoms_, [&](std::size_t a) { return verdict[of[a]] != 0; });
  }

  AtomSet patterns(const Node& node, const TextColumn& column, std::string_view what) const {
    if (column.size() != natoms_) lacks(node, what);
    return matching(column, [&](std::string_view value) {
      return std::any_of(node.patterns.begin(), node.patterns.end(),
                         [&](const Wildcard& w) { return w.matches(value); });
    });
  }

  AtomSet residues(const Node& node, bool (*listed)(std::string_view)) const {
    if (top_.resnames.size() != natoms_) lacks(node, "residue names");
    return matching(top_.resnames, listed);
  }

  // index and bynum: atom numbers counted from `origin`.
  AtomSet numbers(const Node& node, std::int64_t origin) const {
    AtomSet set(natoms_);
    const auto n = static_cast<std::int64_t>(natoms_);
    for (const IntRange& r : node.ranges) {
      // Clamped before the shift so that the 64-bit bounds do not overflow.
      const std::int64_t low = std::clamp<std::int64_t>(r.low, -1, n + 1) - origin;
      const std::int64_t high = std::clamp<std::int64_t>(r.high, -1, n + 1) - origin;
      const std::int64_t first = std::max<std::int64_t>(low, 0);
      const std::int64_t last = std::min<std::int64_t>(high, n - 1);
      if (first <= last) {
        set.insert_range(static_cast<std::size_t>(first), static_cast<std::size_t>(last) + 1);
      }
    }
    return set;
  }

  AtomSet resnums(const Node& node, const std::vector<IntRange>& ranges) const {
    if (top_.resids.size() != natoms_) lacks(node, "residue numbers");
    const std::vector<IntRange> sorted = merged(ranges);
    return AtomSet::of(natoms_, [&](std::size_t a) { return in_ranges(sorted, top_.resids[a]); });
  }

  AtomSet resids(const Node& node) const {
    const bool coded = holds_icodes(top_, natoms_);
    if (!coded) {
      if (std::any_of(node.resids.begin(), node.resids.end(),
                      [](const ResidValue& v) { return v.has_icode(); })) {
        lacks(node, "insertion codes");
      }
      std::vector<IntRange> ranges;
      for (const ResidValue& v : node.resids) ranges.push_back({v.low.resid, v.high.resid});
      return resnums(node, ranges);
    }
    if (top_.resids.size() != natoms_) lacks(node, "residue numbers");
    return AtomSet::of(natoms_, [&](std::size_t a) {
      const unsigned char icode = icode_key(top_.icodes[a]);
      return std::any_of(node.resids.begin(), node.resids.end(), [&](const ResidValue& v) {
        return resid_accepts(v, top_.resids[a], icode);
      });
    });
  }

  AtomSet reals(const Node& node, const std::vector<float>& values, std::string_view what) const {
    if (values.size() != natoms_) lacks(node, what);
    const std::vector<RealTest> tests(node.reals.begin(), node.reals.end());
    return AtomSet::of(natoms_, [&](std::size_t a) {
      return std::any_of(tests.begin(), tests.end(),
                         [x = values[a]](const RealTest& t) { return t.accepts(x); });
    });
  }

  AtomSet group(const Node& node) const {
    const std::string where = "\"" + node.group + "\" " + at_column(node.column);
    if (groups_ == nullptr) fail(tree_.text, "no index groups were given for the group " + where);
    const std::vector<std::int32_t>* atoms = groups_->find(node.group);
    if (atoms == nullptr) fail(tree_.text, "no index group is named " + where);
    AtomSet set(natoms_);
    for (const std::int32_t a : *atoms) {
      if (a < 0 || static_cast<std::size_t>(a) >= natoms_) {
        fail(tree_.text, "the index group " + where + " holds atom " + std::to_string(a + 1) +
                             ", beyond the topology's " + std::to_string(natoms_));
      }
      set.insert(static_cast<std::size_t>(a));
    }
    return set;
  }

  AtomSet test(const Node& node) const {
    switch (node.keyword) {
      case Keyword::all: {
        AtomSet set(natoms_);
        set.insert_range(0, natoms_);
        return set;
      }
      case Keyword::protein:
        return residues(node, is_protein_residue);
      case Keyword::nucleic:
        return residues(node, is_nucleic_residue);
      case Keyword::backbone: {
        AtomSet set = matching(top_.names, is_backbone_atom);
        set &= residues(node, is_protein_residue);
        return set;
      }
      case Keyword::name:
        return patterns(node, top_.names, "atom names");
      case Keyword::type:
        return patterns(node, top_.types, "atom types");
      case Keyword::element:
        return patterns(node, top_.elements, "elements");
      case Keyword::resname:
        return patterns(node, top_.resnames, "residue names");
      case Keyword::segid:
        return patterns(node, top_.segids, "segment names");
      case Keyword::chain:
        if (!holds_chains(top_, natoms_)) lacks(node, "chain IDs");
        return patterns(node, top_.chains, "chain IDs");
      case Keyword::resid:
        return resids(node);
      case Keyword::resnum:
        return resnums(node, node.ranges);
      case Keyword::index:
        return numbers(node, 0);
      case Keyword::bynum:
        return numbers(node, 1);
      case Keyword::mass:
        return reals(node, top_.masses, "masses");
      case Keyword::charge:
        return reals(node, top_.charges, "charges");
      case Keyword::group:
        return group(node);
    }
    return AtomSet(natoms_);
  }

  const SelectionTree& tree_;
  const Topology& top_;
  const IndexGroups* groups_ = nullptr;
  std::size_t natoms_ = 0;
};

}  // namespace
}  // namespace atomsel

Selection::Selection(std::shared_ptr<const atomsel::SelectionTree> tree) : tree_(std::move(tree)) {}

Selection Selection::parse(std::string_view text) {
  return Selection(std::make_shared<const atomsel::SelectionTree>(atomsel::parse(text)));
}

const std::string& Selection::text() const {
  return tree_->text;
}

std::vector<std::int32_t> Selection::evaluate(const Topology& top,
                                              const IndexGroups* groups) const {
  const atomsel::Evaluator evaluator(*tree_, top, groups);
  std::vector<std::int32_t> atoms = evaluator.eval(tree_->root).members();
  if (atoms.empty()) atomsel::fail(tree_->text, "no atom is selected");
  return atoms;
}

std::vector<std::int32_t> select_atoms(const Topology& top, std::string_view text,
                                       const IndexGroups* groups) {
  return Selection::parse(text).evaluate(top, groups);
}

}  // namespace kvtraj

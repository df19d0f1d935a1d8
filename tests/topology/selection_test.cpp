// Atom selections on topologies built here: the grammar as MDAnalysis reads it (precedence,
// parentheses, ranges, several values, wildcards, insertion codes, index and bynum, masses,
// groups) and the errors, with their columns, for typical mistakes. The expected atoms are those
// MDAnalysis 2.4.2 selects for the same texts on the same atoms.
#include <gtest/gtest.h>

#include "tests/testsupport/testsupport.hpp"
#include "topology/selection.hpp"
#include "topology/wildcard.hpp"

namespace kvtraj {
namespace {

using Atoms = std::vector<std::int32_t>;

struct AtomSpec {
  const char* name;
  const char* resname;
  std::int32_t resid;
  char icode;
  float mass;
};

Topology make_topology(std::initializer_list<AtomSpec> atoms) {
  Topology top;
  for (const AtomSpec& a : atoms) {
    top.names.push_back(a.name);
    top.types.push_back(std::string_view(a.name).substr(0, 1));
    top.elements.push_back(std::string_view(a.name).substr(0, 1));
    top.resnames.push_back(a.resname);
    top.resids.push_back(a.resid);
    top.icodes.push_back(a.icode);
    const std::string_view resname = a.resname;
    top.segids.push_back(resname == "ALA" || resname == "GLY" ? "PROA" : "REST");
    top.masses.push_back(a.mass);
  }
  return top;
}

// A dipeptide, two waters (residues -1 and 0), an ion, a nucleotide and a residue of unknown
// name holding an "N"; no chains, no charges, no insertion codes.
Topology small_system() {
  Topology top = make_topology({
      {"N", "ALA", 1, ' ', 14.007f},   {"CA", "ALA", 1, ' ', 12.011f},   // 0 1
      {"C", "ALA", 1, ' ', 12.011f},   {"O", "ALA", 1, ' ', 15.999f},    // 2 3
      {"CB", "ALA", 1, ' ', 12.011f},  {"N", "GLY", 2, ' ', 14.007f},    // 4 5
      {"CA", "GLY", 2, ' ', 12.011f},  {"HA1", "GLY", 2, ' ', 1.008f},   // 6 7
      {"C", "GLY", 2, ' ', 12.011f},   {"O", "GLY", 2, ' ', 15.999f},    // 8 9
      {"OW", "SOL", -1, ' ', 15.999f}, {"HW1", "SOL", -1, ' ', 1.008f},  // 10 11
      {"HW2", "SOL", -1, ' ', 1.008f}, {"OW", "SOL", 0, ' ', 15.999f},   // 12 13
      {"HW1", "SOL", 0, ' ', 1.008f},  {"HW2", "SOL", 0, ' ', 1.008f},   // 14 15
      {"NA", "NA", 5, ' ', 22.99f},    {"P", "DA", 6, ' ', 30.974f},     // 16 17
      {"C1'", "DA", 6, ' ', 12.011f},  {"N", "UNK", 7, ' ', 14.007f},    // 18 19
  });
  top.icodes.clear();
  return top;
}

class Select : public ::testing::Test {
 protected:
  Atoms sel(std::string_view text) { return select_atoms(top, text, &groups); }
  // `text` must end in the one line `selection "TEXT": what`.
  void refused(const std::string& text, const std::string& what, bool with_groups = true) {
    const auto outcome =
        testing::catch_fatal([&] { select_atoms(top, text, with_groups ? &groups : nullptr); });
    EXPECT_TRUE(outcome.raised) << text;
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.texts, "selection \"" + text + "\": " + what + "\n");
  }

  Topology top = small_system();
  IndexGroups groups{{{"Ions", {16}}, {"my group", {0, 16, 0}}, {"Water", {10, 11, 12}}}};
};

TEST_F(Select, AndOrBindAlikeFromLeftToRightAndNotBindsTightest) {
  EXPECT_EQ(sel("name CA or name N and resid 1"), (Atoms{0, 1}));
  EXPECT_EQ(sel("name CA or (name N and resid 1)"), (Atoms{0, 1, 6}));
  EXPECT_EQ(sel("resid 1 and name CA or name N"), (Atoms{0, 1, 5, 19}));
  EXPECT_EQ(sel("not name CA and resid 1"), (Atoms{0, 2, 3, 4}));
  EXPECT_EQ(sel("not (name CA or resid 1 2 -1 0)"), (Atoms{16, 17, 18, 19}));
  EXPECT_EQ(sel("not not name P"), (Atoms{17}));
  EXPECT_EQ(sel("((name P))or(name NA)"), (Atoms{16, 17}));
  EXPECT_EQ(sel("all").size(), 20u);
}

TEST_F(Select, ResidueFamiliesFollowMdanalysisNameSets) {
  EXPECT_EQ(sel("protein"), (Atoms{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
  // The N of residue UNK is not backbone; CB and HA1 are not either.
  EXPECT_EQ(sel("backbone"), (Atoms{0, 1, 2, 3, 5, 6, 8, 9}));
  EXPECT_EQ(sel("nucleic"), (Atoms{17, 18}));
  EXPECT_EQ(sel("not protein and not nucleic and not resname SOL"), (Atoms{16, 19}));
}

TEST_F(Select, TextsTakeSeveralValuesAndWildcards) {
  EXPECT_EQ(sel("name N CA"), (Atoms{0, 1, 5, 6, 19}));
  EXPECT_EQ(sel("name H*"), (Atoms{7, 11, 12, 14, 15}));
  EXPECT_EQ(sel("name HW?"), (Atoms{11, 12, 14, 15}));
  EXPECT_EQ(sel("name [CN]A"), (Atoms{1, 6, 16}));
  EXPECT_EQ(sel("name HW[!1]"), (Atoms{12, 15}));
  EXPECT_EQ(sel("name C1'"), (Atoms{18}));
  EXPECT_EQ(sel("resname S*L and type H"), (Atoms{11, 12, 14, 15}));
  EXPECT_EQ(sel("segid PROA and element O"), (Atoms{3, 9}));
  // Keywords and values are case-sensitive; chainID alone is also read in lowercase.
  EXPECT_EQ(sel("name ca or name Ca or name NA"), (Atoms{16}));
}

TEST_F(Select, NumbersTakeRangesOfThreeKindsAndNegativeValues) {
  const Atoms alanine_and_glycine{0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  for (const char* range : {"1:2", "1-2", "1 to 2", "1 - 2", "1 :2", "1: 2", "1 2"}) {
    EXPECT_EQ(sel(std::string("resid ") + range), alanine_and_glycine) << range;
    EXPECT_EQ(sel(std::string("resnum ") + range), alanine_and_glycine) << range;
  }
  EXPECT_EQ(sel("resid -1"), (Atoms{10, 11, 12}));
  EXPECT_EQ(sel("resid -1--1 5"), (Atoms{10, 11, 12, 16}));
  EXPECT_EQ(sel("resid -1:0 and name OW"), (Atoms{10, 13}));
  EXPECT_EQ(sel("resid -1 to 1 and name O*"), (Atoms{3, 10, 13}));
  EXPECT_EQ(sel("resnum 7 -1 99999999999999999999999"), (Atoms{10, 11, 12, 19}));
  // A reversed range holds nothing without insertion codes.
  EXPECT_EQ(sel("resid 2-1 or resid 7"), (Atoms{19}));
}

TEST_F(Select, IndexCountsFromZeroAndBynumFromOne) {
  EXPECT_EQ(sel("index 0"), (Atoms{0}));
  EXPECT_EQ(sel("bynum 1"), (Atoms{0}));
  EXPECT_EQ(sel("index 3:5 19"), (Atoms{3, 4, 5, 19}));
  EXPECT_EQ(sel("bynum 4-6 20"), (Atoms{3, 4, 5, 19}));
  EXPECT_EQ(sel("bynum 18 to 999999999999999999999"), (Atoms{17, 18, 19}));
  EXPECT_EQ(sel("index -5:1"), (Atoms{0, 1}));
}

TEST_F(Select, MassesMatchWithinTheToleranceOrInRanges) {
  const Atoms carbons{1, 2, 4, 6, 8, 18};
  EXPECT_EQ(sel("mass 12.011"), carbons);
  EXPECT_EQ(sel("mass 12.0111"), carbons);  // within rtol 1e-5
  EXPECT_EQ(sel("mass 12.0112 or mass 1.008"), (Atoms{7, 11, 12, 14, 15}));
  EXPECT_EQ(sel("mass 12.011 to 14.007 and resid 2"), (Atoms{5, 6, 8}));
  EXPECT_EQ(sel("mass 20-1e2"), (Atoms{16, 17}));
  EXPECT_EQ(sel("mass 1_2.011"), carbons);  // Python's float() takes the underscore
}

TEST_F(Select, GroupsNameIndexGroupsQuotedOrNot) {
  EXPECT_EQ(sel("group Ions"), (Atoms{16}));
  EXPECT_EQ(sel("group \"my group\" or group Water"), (Atoms{0, 10, 11, 12, 16}));
  EXPECT_EQ(sel("group Water and not name OW"), (Atoms{11, 12}));
}

TEST_F(Select, CompiledOnceEvaluatesOnAnyTopology) {
  const Selection s = Selection::parse("name CA and resid 2");
  EXPECT_EQ(s.text(), "name CA and resid 2");
  EXPECT_EQ(s.evaluate(top), (Atoms{6}));
  const Topology other =
      make_topology({{"CA", "GLY", 2, ' ', 12.0f}, {"CA", "GLY", 3, ' ', 12.0f}});
  EXPECT_EQ(s.evaluate(other), (Atoms{0}));
}

// One atom per residue 10, 10A, 10B, 11, 12, 12A: with insertion codes, `resid 10` is residue 10
// without a code, and ranges take their ends as MDAnalysis does.
TEST_F(Select, InsertionCodesNarrowResidues) {
  top = make_topology({{"CA", "ALA", 10, ' ', 12.0f},
                       {"CA", "ALA", 10, 'A', 12.0f},
                       {"CA", "ALA", 10, 'B', 12.0f},
                       {"CA", "ALA", 11, ' ', 12.0f},
                       {"CA", "ALA", 12, ' ', 12.0f},
                       {"CA", "ALA", 12, 'A', 12.0f}});
  EXPECT_EQ(sel("resid 10"), (Atoms{0}));
  EXPECT_EQ(sel("resid 10A"), (Atoms{1}));
  EXPECT_EQ(sel("resid 10A-10B"), (Atoms{1, 2}));
  EXPECT_EQ(sel("resid 10-12"), (Atoms{0, 1, 2, 3, 4}));
  EXPECT_EQ(sel("resid 10A-12"), (Atoms{1, 2, 3, 4}));
  EXPECT_EQ(sel("resid 12-10"), (Atoms{0, 4, 5}));
  EXPECT_EQ(sel("resid 11 to 12A"), (Atoms{3, 4, 5}));
  EXPECT_EQ(sel("resnum 10"), (Atoms{0, 1, 2}));
}

// Each mistake ends with one line that names the text, the column and what was expected.
TEST_F(Select, MistakesAreReportedWithTheirColumn) {
  refused("name CA and", "expected a keyword after \"and\" at column 12");
  refused("", "expected a keyword at column 1");
  refused("NAME CA", "unknown keyword \"NAME\" at column 1");
  refused("byres name CA",
          "unknown keyword \"byres\" at column 1 (an MDAnalysis keyword not supported here)");
  refused("name CA around 5 protein",
          "unknown keyword \"around\" at column 9 (an MDAnalysis keyword not supported here)");
  refused("name CA resname ALA", "expected \"and\" or \"or\" before \"resname\" at column 9");
  refused("(name CA or name N", "expected \")\" for the \"(\" at column 1 at column 19");
  refused("name CA)", "unexpected \")\" at column 8");
  refused("name CA not name N", "expected \"and\" or \"or\" before \"not\" at column 9");
  refused("name and resid 1", "expected a value after \"name\" at column 6");
  refused("resid 1.5", "\"1.5\" at column 7 is not a residue number or range for \"resid\"");
  // MDAnalysis would read "1-10" and drop the rest.
  refused("resid 1-10,20",
          "\"1-10,20\" at column 7 is not a residue number or range for \"resid\"");
  refused("resnum 10A", "\"10A\" at column 8 is not a whole number or range for \"resnum\"");
  refused("mass 12 to", "the range separator at column 9 needs a value on each side");
  refused("mass 1.2.3", "\"1.2.3\" at column 6 is not a number or range for \"mass\"");
  refused("name \"CA\"", "a quoted name at column 6: quotes only enclose a group name");
  refused("group \"Ions", "the quote at column 7 is not closed");
  refused("group", "expected a group name after \"group\" at column 6");
  refused(std::string(101, '('), "nested more than 100 deep at column 101");
}

TEST_F(Select, WhatTheTopologyCannotAnswerIsAnErrorNeverAllAtoms) {
  refused("name XX or resid 99", "no atom is selected");
  refused("not all", "no atom is selected");
  refused("chainID A", "the topology holds no chain IDs for the keyword at column 1");
  refused("name CA or charge 0", "the topology holds no charges for the keyword at column 12");
  refused("resid 10A", "the topology holds no insertion codes for the keyword at column 1");
  refused("group Protein", "no index group is named \"Protein\" at column 1");
  refused("group Ions", "no index groups were given for the group \"Ions\" at column 1", false);
  groups.groups.push_back({"Beyond", {3, 20}});
  refused("group Beyond",
          "the index group \"Beyond\" at column 1 holds atom 21, beyond the topology's 20");
}

// Readers fill the chains and insertion codes of formats without them with blanks; MDAnalysis
// has both for PDB files only, blank or not.
TEST_F(Select, BlankChainsAndInsertionCodesAreHeldByPdbFilesOnly) {
  for (std::int32_t a = 0; a < top.natoms(); ++a) {
    top.chains.push_back("");
    top.icodes.push_back(' ');
  }
  top.format = "GRO";
  refused("chainID A", "the topology holds no chain IDs for the keyword at column 1");
  refused("resid 2-1", "no atom is selected");
  top.format = "PDB";
  refused("chainID A", "no atom is selected");
  EXPECT_EQ(sel("resid 2-1"), (Atoms{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));  // both ends, as MDAnalysis
}

// Cases as Python's fnmatch.fnmatchcase answers them, its corner cases included.
TEST(Wildcard, MatchesAsPythonFnmatch) {
  struct Case {
    const char* pattern;
    const char* text;
    bool match;
  };
  const Case cases[] = {
      {"[]a]", "]", true},     {"[]a]", "a", true},       {"[!]a]", "]", false},
      {"[!]a]", "b", true},    {"[a-]", "-", true},       {"[a-]", "b", false},
      {"[z-a]", "z", false},   {"[!z-a]", "q", true},     {"a[", "a[", true},
      {"[!", "[!", true},      {"H[1-3]", "H2", true},    {"H[1-3]", "H4", false},
      {"*A*B", "xAyyB", true}, {"*A*B", "xAyyBz", false}, {"C?", "C", false},
      {"C?", "CA", true},      {"[a-c-e]", "-", true},    {"[a-c-e]", "d", false},
      {"[a-c-e]", "e", true},  {"[c-a-e]", "-", true},    {"[c-a-e]", "e", true},
      {"[c-a-e]", "b", false}, {"[\\]", "\\", true},      {"[!a-]", "-", false},
      {"[^a]", "^", true},     {"[^a]", "b", false},      {"**", "", true},
      {"[b-a-]", "-", true},   {"[b-a-]", "b", false},    {"*", "", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Wildcard::compile(c.pattern).matches(c.text), c.match)
        << c.pattern << " against " << c.text;
  }
}

}  // namespace
}  // namespace kvtraj

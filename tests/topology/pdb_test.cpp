// PDB: what the MDAnalysis fixtures do not hold — numbers past the columns, several models,
// placeholder cells, partial element columns, segments — and the records refused.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "support/messages.hpp"
#include "tests/topology/fatal_line.hpp"
#include "topology/topology.hpp"

namespace kvtraj {
namespace {

using testing::fatal_line;
using ::testing::HasSubstr;

// An ATOM record in the standard columns (segment id in 73-76, element in 77-78).
std::string atom(const char* serial, const char* name, const char* resid, char chain = ' ',
                 const char* segid = "", const char* element = "", float x = 1.5f) {
  char line[96];
  std::snprintf(line, sizeof line,
                "ATOM  %5s %-4s %-4s%c%4s    %8.3f%8.3f%8.3f  1.00  0.00      %-4s%2s\n", serial,
                name, "ALA", chain, resid, x, -2.25, 3.0, segid, element);
  return line;
}

TEST(Pdb, NumbersPastTheColumnsInHybrid36AndHexadecimal) {
  const std::string text = atom("99999", "N", "9999") + atom("A0000", "CA", "A000") +
                           atom("A0001", "C", "271a") + "CONECT99999A0000\nCONECTA0000A0001\n";
  const Topology top = parse_pdb(text, "big.pdb");
  EXPECT_EQ(top.resids, (std::vector<std::int32_t>{9999, 10000, 10010}));
  EXPECT_TRUE(top.has_bonds);
  EXPECT_EQ(top.bonds, (std::vector<std::array<std::int32_t, 2>>{{0, 1}, {1, 2}}));
}

TEST(Pdb, UnreadableSerialsLeaveTheBondsOutWithAWarning) {
  std::string warnings;
  const MessageSink previous = set_message_sink([&](const Message& m) {
    if (m.kind == MessageKind::warning) warnings += std::string(m.text) + "\n";
  });
  const Topology top = parse_pdb(
      atom("99999", "N", "1") + atom("*****", "CA", "1") + "CONECT99999*****\n", "wrapped.pdb");
  set_message_sink(previous);
  EXPECT_EQ(top.natoms(), 2);
  EXPECT_FALSE(top.has_bonds);
  EXPECT_TRUE(top.bonds.empty());
  EXPECT_THAT(warnings, HasSubstr("wrapped.pdb: atom serials that cannot be read"));
}

TEST(Pdb, FirstModelPlaceholderCellSegmentsAndElements) {
  const std::string model = atom("1", "CA", "1", 'A', "", "C") + atom("2", "FE", "2", 'B') +
                            atom("3", "OW", "3", 'B', "", "XX");
  const Topology top = parse_pdb(
      "CRYST1    1.000    1.000    1.000  90.00  90.00  90.00 P 1           1\nMODEL        1\n" +
          model + "ENDMDL\nMODEL        2\n" + model + model + "ENDMDL\n",
      "models.pdb");
  EXPECT_EQ(top.natoms(), 3);
  EXPECT_FALSE(top.cell.has_value());  // the 1 Å cube is no cell
  EXPECT_FLOAT_EQ(top.coordinates[3], 1.5f);
  EXPECT_FLOAT_EQ(top.coordinates[4], -2.25f);
  EXPECT_EQ(top.segids[0], "A");  // no segment ids: the chains stand in
  EXPECT_EQ(top.segids[2], "B");
  // Types are the element columns as written; a blank or unknown element is guessed from the
  // name, while the mass follows the type, as in MDAnalysis.
  EXPECT_EQ(top.types[1], "");
  EXPECT_EQ(top.types[2], "XX");
  EXPECT_EQ(top.elements[1], "Fe");
  EXPECT_EQ(top.elements[2], "O");
  EXPECT_EQ(top.masses[1], 0.0f);
  EXPECT_FLOAT_EQ(top.masses[0], 12.011f);

  const Topology plain = parse_pdb(atom("1", "CA", "1") + "END\n" + atom("2", "N", "1"), "p.pdb");
  EXPECT_EQ(plain.natoms(), 1);
  EXPECT_EQ(plain.segids[0], "SYSTEM");
  EXPECT_EQ(plain.types[0], "C");  // no element columns at all: types guessed from the names
}

TEST(Pdb, RefusesFilesWithoutAtomsAndRecordsOfTheWrongShape) {
  EXPECT_EQ(fatal_line([] { parse_pdb("    1\n    1SOL     OW    1   0.1 0.2 0.3\n", "w.pdb"); }),
            "w.pdb: no ATOM or HETATM records: not a PDB file");
  std::string bad = atom("1", "N", "1") + atom("2", "CA", "1");
  bad.replace(bad.find('\n') + 1 + 40, 3, "x.y");
  EXPECT_THAT(fatal_line([&] { parse_pdb(bad, "b.pdb"); }),
              HasSubstr("b.pdb:2: no coordinates in columns 31-54"));
  EXPECT_THAT(fatal_line([] { parse_pdb(atom("1", "N", "1") + "CONECT    1   ?x\n", "c.pdb"); }),
              HasSubstr("c.pdb:2: a CONECT record with an unreadable atom serial"));
}

}  // namespace
}  // namespace kvtraj

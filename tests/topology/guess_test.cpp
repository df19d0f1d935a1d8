// Guessing against the values MDAnalysis 2.4.2's guess_atom_element and get_atom_mass give for
// the same names and types (worked out with it; the odd ones are its rules, kept on purpose).
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "topology/topology.hpp"

namespace kvtraj {
namespace {

TEST(Guess, TypesAndElementsOfNamesAsMDAnalysisGuessesThem) {
  const std::pair<const char*, const char*> types[] = {
      {"CA", "C"},     {"CAL", "CA"}, {"OW", "O"},   {"HW1", "H"}, {"SOD", "NA"}, {"CLA", "CL"},
      {"MW", "DUMMY"}, {"1HB", "H"},  {"X", "X"},    {"Mg", "MG"}, {"FE2", "FE"}, {"K+", "K"},
      {"C0", "CA"},    {"OH2", "O"},  {"HH31", "H"}, {"SG", "S"},  {"3", "3"},    {"*", ""},
      {"", ""},        {"LP", "P"},   {"Cl-", "CL"}, {"BR", "BR"}, {"CD1", "C"},  {"OXT", "O"},
      {"POT", "K"},    {"SI2", "SI"}, {"HE", "H"},   {"2HE", "H"}};
  for (const auto& [name, type] : types) EXPECT_EQ(guess_type(name), type) << name;
  // Elements are the guesses that name an element, capitalised as element columns write them.
  EXPECT_EQ(guess_element("CAL"), "Ca");
  EXPECT_EQ(guess_element("CLA"), "Cl");
  EXPECT_EQ(guess_element("CA"), "C");
  EXPECT_EQ(guess_element("MW"), "");
  EXPECT_EQ(guess_element("X"), "");
  EXPECT_EQ(guess_element("3"), "");
}

TEST(Guess, MassesOfTypesTryTheTableAsWrittenThenInCapitals) {
  EXPECT_FLOAT_EQ(guess_mass("CA"), 40.08f);  // calcium: the table knows no C-alpha
  EXPECT_FLOAT_EQ(guess_mass("Ca"), 40.08f);
  EXPECT_FLOAT_EQ(guess_mass("Fe"), 55.847f);
  EXPECT_FLOAT_EQ(guess_mass("Na"), 22.989768f);  // two sodium entries, told apart by case
  EXPECT_FLOAT_EQ(guess_mass("NA"), 22.98977f);
  EXPECT_FLOAT_EQ(guess_mass("he"), 4.0026f);
  EXPECT_EQ(guess_mass("X"), 0.0f);
  EXPECT_EQ(guess_mass("DUMMY"), 0.0f);
  EXPECT_EQ(guess_mass(""), 0.0f);
}

}  // namespace
}  // namespace kvtraj

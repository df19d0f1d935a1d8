// Atom selections: any text is parsed and evaluated on two small built-in systems, one with
// insertion codes, chains and charges, one without, and with index groups. Whatever the text,
// the outcome is a list of atoms or a fatal condition with its message.
#include <string_view>

#include "fuzz/fuzz_support.hpp"
#include "topology/selection.hpp"

namespace {

struct Atom {
  const char* name;
  const char* resname;
  std::int32_t resid;
  char icode;
  float mass;
};

// Protein, water, an ion and a nucleotide, with names that exercise the wildcards.
constexpr Atom kAtoms[] = {
    {"N", "ALA", -2, ' ', 14.007f},  {"CA", "ALA", -2, ' ', 12.011f},
    {"C", "ALA", -2, 'A', 12.011f},  {"O", "ALA", -2, 'A', 15.999f},
    {"N", "HSD", 10, ' ', 14.007f},  {"CA", "HSD", 10, 'B', 12.011f},
    {"HB1", "HSD", 10, 'B', 1.008f}, {"OT1", "HSD", 11, ' ', 15.999f},
    {"OW", "SOL", 12, ' ', 15.999f}, {"HW1", "SOL", 12, ' ', 1.008f},
    {"HW2", "SOL", 12, ' ', 1.008f}, {"NA", "NA", 13, ' ', 22.99f},
    {"P", "DA", 14, ' ', 30.974f},   {"C1'", "DA", 14, ' ', 12.011f},
    {"[]", "*", 15, 'Z', 0.0f},
};

kvtraj::Topology system(bool full) {
  kvtraj::Topology top;
  for (const Atom& a : kAtoms) {
    top.names.push_back(a.name);
    top.types.push_back(std::string_view(a.name).substr(0, 1));
    top.elements.push_back(std::string_view(a.name).substr(0, 1));
    top.resnames.push_back(a.resname);
    top.resids.push_back(a.resid);
    top.segids.push_back(a.resid < 12 ? "PROT" : "REST");
    top.masses.push_back(a.mass);
    if (full) {
      top.icodes.push_back(a.icode);
      top.chains.push_back(a.resid < 12 ? "A" : "B");
      top.charges.push_back(a.mass > 13.0f ? -0.5f : 0.25f);
    }
  }
  return top;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kvtraj::fuzz::init();
  static const kvtraj::Topology full = system(true), plain = system(false);
  static const kvtraj::IndexGroups groups{
      {{"Protein", {0, 1, 2, 3, 4, 5, 6, 7}}, {"two words", {11, 11}}, {"Beyond", {3, 99}}}};
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  kvtraj::fuzz::survive([&] {
    const kvtraj::Selection selection = kvtraj::Selection::parse(text);
    kvtraj::fuzz::survive([&] { selection.evaluate(full, &groups); });
    kvtraj::fuzz::survive([&] { selection.evaluate(plain, nullptr); });
  });
  return 0;
}

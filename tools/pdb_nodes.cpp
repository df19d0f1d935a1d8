// Node positions (metres) as PDB ATOM records in ångström: node N of a record is atom N - 1 of
// GLY 1, every record a model ended by TER and ENDMDL.
#include <array>
#include <cstdio>

#include "support/text_output.hpp"
#include "tools/node_trajectory.hpp"

namespace kvtraj {
namespace {

constexpr double kMetresToAngstrom = 1e10;

}  // namespace

Conversion convert_to_pdb(std::FILE* in, std::FILE* out) {
  RecordRules rules;
  // Nothing is written when a value does not fit its field.
  rules.node = [out](const std::array<double, 3>& xyz, long long line, long long step) {
    PositionFields fields{};
    if (!node_fields(xyz, kMetresToAngstrom, "A", line, step, fields)) return false;
    std::fprintf(out, "ATOM%7lld  N   GLY     1    %s%s%s\n", line - 1, fields[0].data(),
                 fields[1].data(), fields[2].data());
    return true;
  };
  rules.end_record = [out] { std::fputs("TER\nENDMDL\n", out); };
  return convert_records(in, out, rules);
}

}  // namespace kvtraj

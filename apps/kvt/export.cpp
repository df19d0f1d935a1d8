// kvt export: a KVT file in another program's layout (GROMACS: gmx covar's files).
#include <array>

#include "analysis/analysis.hpp"
#include "apps/kvt/kvt_app.hpp"
#include "apps/kvt/output_format.hpp"
#include "clopts/clopts.hpp"
#include "kvt_io/kvt_io.hpp"

namespace kvtraj::app {

int run_export() {
  static constexpr std::array<std::string_view, 2> kValued = {"-i", "--gromacs"};
  check_arguments({}, kValued);
  const std::string in = required_text("-i", "the KVT file to export");
  const std::string prefix = required_text("--gromacs", "the prefix of the GROMACS files");
  const kvtfile kvtf = kvtopen(28, in);
  if (kvtf.status != 0) fail(in + ": the KVT file is incomplete or unreadable");
  written([&] { return analysis::write_gromacs(prefix, kvtf); });
  return 0;
}

}  // namespace kvtraj::app

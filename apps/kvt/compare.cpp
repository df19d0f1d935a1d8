// kvt compare: how alike the vectors of two KVT files of the same atoms are.
#include <algorithm>
#include <array>
#include <cstdio>

#include "analysis/analysis.hpp"
#include "apps/kvt/kvt_app.hpp"
#include "clopts/clopts.hpp"
#include "kvt_io/kvt_io.hpp"

namespace kvtraj::app {
namespace {

constexpr std::int32_t kKvtUnit = 25;

kvtfile opened(const std::string& path, std::int32_t unit) {
  kvtfile kvtf = kvtopen(unit, path);
  if (kvtf.status != 0) fail(path + ": the KVT file is incomplete or unreadable");
  return kvtf;
}

}  // namespace

int run_compare() {
  static constexpr std::array<std::string_view, 1> kValued = {"--vectors"};
  const std::vector<std::string> files = check_arguments({}, kValued, 2);
  if (files.size() != 2) fail("compare needs two KVT files (see kvt compare --help)");
  const kvtfile a = opened(files[0], kKvtUnit), b = opened(files[1], kKvtUnit + 1);
  if (a.natoms != b.natoms) {
    fail(files[0] + " and " + files[1] + " hold " + std::to_string(a.natoms) + " and " +
         std::to_string(b.natoms) + " atoms");
  }
  analysis::check_atom_names(a.atoms, b.atoms, files[0], files[1]);
  const std::int32_t most = std::min(a.nvecs, b.nvecs);
  const std::int32_t k = int_option("--vectors").value_or(most);
  if (k < 1 || k > most) {
    fail("--vectors " + std::to_string(k) + " is outside 1.." + std::to_string(most));
  }
  const std::size_t n = a.avg.size();
  std::printf("rmsip %.9g\n", analysis::rmsip(a.evecs, k, b.evecs, k, n));
  const std::vector<double> m = analysis::overlap_matrix(a.evecs, k, b.evecs, k, n);
  std::printf("overlap\n");
  for (std::int32_t i = 0; i < k; ++i) {
    for (std::int32_t j = 0; j < k; ++j) {
      std::printf("%s%.6f", j == 0 ? "" : " ", m[i + static_cast<std::size_t>(k) * j]);
    }
    std::printf("\n");
  }
  std::printf("cumulative");
  for (std::int32_t i = 0; i < k; ++i) {
    std::printf(" %.6f", analysis::cumulative_overlap(a.evecs, i, b.evecs, k, n));
  }
  std::printf("\ncovariance overlap %.9g\n",
              analysis::covariance_overlap(a.evecs, a.evals, b.evecs, b.evals, n));
  return 0;
}

}  // namespace kvtraj::app

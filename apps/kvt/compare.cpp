// kvt compare: how alike the vectors of two PCAs of the same atoms are (KVT files, or the
// eigenvector files of gmx covar).
#include <algorithm>
#include <array>
#include <cstdio>

#include "analysis/analysis.hpp"
#include "apps/kvt/kvt_app.hpp"
#include "apps/kvt/table.hpp"
#include "clopts/clopts.hpp"
#include "kvt_io/kvt_io.hpp"

namespace kvtraj::app {
namespace {

constexpr std::int32_t kKvtUnit = 25;

// One side of the comparison: a KVT file, or the eigenvector file of gmx covar.
struct Side {
  std::string name;
  std::int32_t natoms = 0;
  std::int32_t nvecs = 0;
  std::vector<float> evecs, evals;
  std::vector<AtomRecord> atoms;  // empty for GROMACS's files
};

bool is_trr(const std::string& path) {
  return path.size() > 4 && path.compare(path.size() - 4, 4, ".trr") == 0;
}

Side opened(const std::string& path, std::int32_t unit, std::string_view eigenval_flag) {
  const auto eigenval = text_option(eigenval_flag);
  if (!is_trr(path)) {
    if (eigenval) fail(std::string(eigenval_flag) + " goes with an eigenvector file (.trr)");
    kvtfile kvtf = kvtopen(unit, path);
    if (kvtf.status != 0) fail(path + ": the KVT file is incomplete or unreadable");
    return {path,
            kvtf.natoms,
            kvtf.nvecs,
            std::move(kvtf.evecs),
            std::move(kvtf.evals),
            std::move(kvtf.atoms)};
  }
  const std::string xvg = eigenval.value_or(analysis::eigenvalues_beside(path));
  if (xvg.empty()) {
    fail(path + ": no eigenvalues beside it (eigenval.xvg); give them with " +
         std::string(eigenval_flag));
  }
  analysis::GromacsPca pca = analysis::read_gromacs(path, xvg);
  return {path, pca.natoms, pca.nvecs, std::move(pca.evecs), std::move(pca.evals), {}};
}

// The measures of the first k vectors of both sides.
struct Comparison {
  std::int32_t k = 0;
  double rmsip = 0.0;
  std::vector<double> overlap;  // k x k, column-major
  std::vector<double> cumulative;
  double covariance = 0.0;
};

Comparison compared(const Side& a, const Side& b, std::int32_t k) {
  const auto n = 3 * static_cast<std::size_t>(a.natoms);
  Comparison c;
  c.k = k;
  c.rmsip = analysis::rmsip(a.evecs, k, b.evecs, k, n);
  c.overlap = analysis::overlap_matrix(a.evecs, k, b.evecs, k, n);
  for (std::int32_t i = 0; i < k; ++i) {
    c.cumulative.push_back(analysis::cumulative_overlap(a.evecs, i, b.evecs, k, n));
  }
  c.covariance = analysis::covariance_overlap(a.evecs, a.evals, b.evecs, b.evals, n);
  return c;
}

void print_report(const Comparison& c) {
  const auto k = static_cast<std::size_t>(c.k);
  std::printf("rmsip %.9g\n", c.rmsip);
  std::printf("overlap\n");
  for (std::size_t i = 0; i < k; ++i) {
    for (std::size_t j = 0; j < k; ++j) {
      std::printf("%s%.6f", j == 0 ? "" : " ", c.overlap[i + k * j]);
    }
    std::printf("\n");
  }
  std::printf("cumulative");
  for (const double v : c.cumulative) std::printf(" %.6f", v);
  std::printf("\ncovariance overlap %.9g\n", c.covariance);
}

// One row per vector of A: its overlaps with B's vectors, then its cumulative overlap; the
// RMSIP and the covariance overlap are the table's notes.
Table comparison_table(const Comparison& c, const std::string& a, const std::string& b) {
  Table t;
  t.title = "overlaps of the vectors of " + a + " with those of " + b;
  t.x_label = "vector of A";
  t.y_label = "overlap";
  for (std::int32_t j = 1; j <= c.k; ++j) t.legends.push_back("B " + std::to_string(j));
  t.legends.push_back("cumulative");
  char line[64];
  std::snprintf(line, sizeof line, "rmsip %.9g", c.rmsip);
  t.notes.emplace_back(line);
  std::snprintf(line, sizeof line, "covariance overlap %.9g", c.covariance);
  t.notes.emplace_back(line);
  t.rows = c.k;
  t.value = [&c](std::int64_t r, std::size_t col) {
    const auto k = static_cast<std::size_t>(c.k), i = static_cast<std::size_t>(r);
    return col < k ? c.overlap[i + k * col] : c.cumulative[i];
  };
  return t;
}

}  // namespace

int run_compare() {
  static constexpr std::array<std::string_view, 3> kValued = {"--vectors", "--eigenval-a",
                                                              "--eigenval-b"};
  const std::vector<std::string> files = check_arguments(kTableFlags, kValued, 2);
  if (files.size() != 2) fail("compare needs two files (see kvt compare --help)");
  const TableStyle style = table_style();
  const Side a = opened(files[0], kKvtUnit, "--eigenval-a");
  const Side b = opened(files[1], kKvtUnit + 1, "--eigenval-b");
  if (a.natoms != b.natoms) {
    fail(a.name + " and " + b.name + " hold " + std::to_string(a.natoms) + " and " +
         std::to_string(b.natoms) + " atoms");
  }
  analysis::check_atom_names(a.atoms, b.atoms, a.name, b.name);
  const std::int32_t most = std::min(a.nvecs, b.nvecs);
  const std::int32_t k = int_option("--vectors").value_or(most);
  if (k < 1 || k > most) {
    fail("--vectors " + std::to_string(k) + " is outside 1.." + std::to_string(most));
  }
  const Comparison c = compared(a, b, k);
  if (style == TableStyle::plain) {
    print_report(c);
  } else {
    print_table(stdout, comparison_table(c, a.name, b.name), style);
  }
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) fail("standard output could not be written");
  return 0;
}

}  // namespace kvtraj::app

// kvt query: values of a KVT file on standard output, one per line (a table with --xvg / --csv).
#include <array>
#include <cstdio>

#include "analysis/analysis.hpp"
#include "apps/kvt/kvt_app.hpp"
#include "apps/kvt/table.hpp"
#include "clopts/clopts.hpp"
#include "kvt_io/kvt_io.hpp"

namespace kvtraj::app {
namespace {

constexpr std::int32_t kKvtUnit = 23;

Table values_table(std::string title, std::string x_label, std::string y_label,
                   std::vector<float> values) {
  const auto rows = static_cast<std::int64_t>(values.size());
  std::vector<std::string> legend = {y_label};
  return {std::move(title),
          std::move(x_label),
          std::move(y_label),
          std::move(legend),
          {},
          rows,
          [v = std::move(values)](std::int64_t r, std::size_t) { return double{v[r]}; }};
}

Table atoms_table(std::string title, std::vector<float> xyz) {
  const auto rows = static_cast<std::int64_t>(xyz.size() / 3);
  return {std::move(title),
          "atom",
          "coordinate (Å)",
          {"x", "y", "z"},
          {},
          rows,
          [v = std::move(xyz)](std::int64_t r, std::size_t c) { return double{v[3 * r + c]}; }};
}

std::int32_t index_in(std::string_view flag, std::int32_t value, std::int32_t low,
                      std::int32_t high) {
  if (value < low || value > high) {
    fail(std::string(flag) + " " + std::to_string(value) + " is outside " + std::to_string(low) +
         ".." + std::to_string(high));
  }
  return value;
}

// The one table asked for; `cosine` is printed on its own, being a single value.
Table asked_table(const kvtfile& kvtf) {
  const std::int32_t nv = kvtf.nvecs, nf = kvtf.nframes;
  const auto number = [](std::string_view what, std::int32_t k) {
    return std::string(what) + " " + std::to_string(k);
  };
  if (getflag("--avg")) return atoms_table("average structure", kvtavg(kvtf));
  if (getflag("--evals")) return values_table("eigenvalues", "vector", "Å²", kvtevals(kvtf));
  if (getflag("--rmsf")) {
    return values_table("fluctuation within the kept vectors", "atom", "RMSF (Å)",
                        analysis::rmsf(kvtf));
  }
  if (const auto k = int_option("--evec")) {
    return atoms_table(number("eigenvector", *k), kvtevec(kvtf, index_in("--evec", *k, 1, nv)));
  }
  if (const auto k = int_option("--proj")) {
    return values_table(number("projections on vector", *k), "snapshot", "projection (Å)",
                        kvtproj(kvtf, index_in("--proj", *k, 1, nv)));
  }
  if (const auto i = int_option("--scores")) {
    return values_table(number("projections of snapshot", *i), "vector", "projection (Å)",
                        kvtscores(kvtf, index_in("--scores", *i, 1, nf)));
  }
  if (const auto k = int_option("--maha")) {
    return values_table(number("Mahalanobis distance over vectors 1 ..", *k), "snapshot",
                        "distance", kvtmaha(kvtf, index_in("--maha", *k, 0, nv)));
  }
  if (const auto k = int_option("--fluc")) {
    return values_table(number("length per atom of eigenvector", *k), "atom", "length",
                        kvtfluc(kvtf, index_in("--fluc", *k, 1, nv)));
  }
  const auto i = int_option("--snap");
  const VectorRange r = parse_vector_range(text_option("--vectors").value_or(":"));
  return atoms_table(number("snapshot", *i),
                     kvtsnap(kvtf, index_in("--snap", *i, 1, nf), r.first, r.last));
}

}  // namespace

int run_query() {
  static constexpr std::array<std::string_view, 5> kFlags = {"--avg", "--evals", "--rmsf",
                                                             kTableFlags[0], kTableFlags[1]};
  static constexpr std::array<std::string_view, 9> kValued = {
      "-i", "--evec", "--proj", "--scores", "--snap", "--vectors", "--maha", "--fluc", "--cosine"};
  check_arguments(kFlags, kValued);
  const std::string in = required_text("-i", "the KVT file to query");
  const auto cosine = int_option("--cosine");
  int asked = getflag("--avg") + getflag("--evals") + getflag("--rmsf") + cosine.has_value();
  for (std::string_view flag : {"--evec", "--proj", "--scores", "--snap", "--maha", "--fluc"}) {
    asked += int_option(flag).has_value();
  }
  if (asked != 1) {
    fail(
        "give exactly one of --avg, --evals, --evec, --proj, --scores, --snap, --maha, --fluc, "
        "--cosine, --rmsf");
  }
  if (text_option("--vectors") && !int_option("--snap")) fail("--vectors goes with --snap");
  const TableStyle style = table_style();

  const kvtfile kvtf = kvtopen(kKvtUnit, in);
  if (kvtf.status != 0) fail(in + ": the KVT file is incomplete or unreadable");
  if (cosine) {
    const std::int32_t k = index_in("--cosine", *cosine, 1, kvtf.nvecs);
    std::printf("%.9g\n", analysis::cosine_content(kvtproj(kvtf, k), k));
  } else {
    print_table(stdout, asked_table(kvtf), style);
  }
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) fail("standard output could not be written");
  return 0;
}

}  // namespace kvtraj::app

// kvt query: values of a KVT file on standard output, one per line.
#include <array>
#include <cstdio>

#include "apps/kvt/kvt_app.hpp"
#include "clopts/clopts.hpp"
#include "kvt_io/kvt_io.hpp"

namespace kvtraj::app {
namespace {

constexpr std::int32_t kKvtUnit = 23;

void print_values(const std::vector<float>& values) {
  for (float v : values) std::printf("%.9g\n", v);
}

void print_atoms(const std::vector<float>& xyz) {
  for (std::size_t i = 0; i + 2 < xyz.size(); i += 3) {
    std::printf("%.9g %.9g %.9g\n", xyz[i], xyz[i + 1], xyz[i + 2]);
  }
}

std::int32_t index_in(std::string_view flag, std::int32_t value, std::int32_t low,
                      std::int32_t high) {
  if (value < low || value > high) {
    fail(std::string(flag) + " " + std::to_string(value) + " is outside " + std::to_string(low) +
         ".." + std::to_string(high));
  }
  return value;
}

}  // namespace

int run_query() {
  static constexpr std::array<std::string_view, 2> kFlags = {"--avg", "--evals"};
  static constexpr std::array<std::string_view, 8> kValued = {
      "-i", "--evec", "--proj", "--scores", "--snap", "--vectors", "--maha", "--fluc"};
  check_arguments(kFlags, kValued);
  const std::string in = required_text("-i", "the KVT file to query");
  const auto evec = int_option("--evec"), proj = int_option("--proj"),
             scores = int_option("--scores"), snap = int_option("--snap"),
             maha = int_option("--maha"), fluc = int_option("--fluc");
  const int asked = getflag("--avg") + getflag("--evals") + evec.has_value() + proj.has_value() +
                    scores.has_value() + snap.has_value() + maha.has_value() + fluc.has_value();
  if (asked != 1) {
    fail("give exactly one of --avg, --evals, --evec, --proj, --scores, --snap, --maha, --fluc");
  }
  const auto range = text_option("--vectors");
  if (range && !snap) fail("--vectors goes with --snap");

  const kvtfile kvtf = kvtopen(kKvtUnit, in);
  if (kvtf.status != 0) fail(in + ": the KVT file is incomplete or unreadable");
  const std::int32_t nv = kvtf.nvecs, nf = kvtf.nframes;
  if (getflag("--avg")) print_atoms(kvtavg(kvtf));
  if (getflag("--evals")) print_values(kvtevals(kvtf));
  if (evec) print_atoms(kvtevec(kvtf, index_in("--evec", *evec, 1, nv)));
  if (proj) print_values(kvtproj(kvtf, index_in("--proj", *proj, 1, nv)));
  if (scores) print_values(kvtscores(kvtf, index_in("--scores", *scores, 1, nf)));
  if (maha) print_values(kvtmaha(kvtf, index_in("--maha", *maha, 0, nv)));
  if (fluc) print_values(kvtfluc(kvtf, index_in("--fluc", *fluc, 1, nv)));
  if (snap) {
    const VectorRange r = parse_vector_range(range.value_or(":"));
    print_atoms(kvtsnap(kvtf, index_in("--snap", *snap, 1, nf), r.first, r.last));
  }
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) fail("standard output could not be written");
  return 0;
}

}  // namespace kvtraj::app

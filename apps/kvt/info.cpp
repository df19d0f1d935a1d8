// kvt info: what a KVT file or a trajectory holds.
#include <array>
#include <cstdio>
#include <cstring>

#include "apps/kvt/bounded.hpp"
#include "apps/kvt/kvt_app.hpp"
#include "fmtreaders/fmtreaders.hpp"
#include "kvt_io/kvt_io.hpp"
#include "support/files.hpp"

namespace kvtraj::app {
namespace {

constexpr std::int32_t kKvtUnit = 22;

bool is_kvt(const std::string& path) {
  static constexpr std::array<const char*, 6> kMagics = {"KVT0", "KVT2", "KVT4",
                                                         "KVT5", "KVT6", "KVT7"};
  char magic[4] = {};
  FilePtr f = open_file(path, "rb");
  if (!f || !read_exact(f.get(), magic, 4)) return false;
  for (const char* m : kMagics) {
    if (std::memcmp(magic, m, 4) == 0) return true;
  }
  return false;
}

// The atom records of a KVT file, one line an atom: the atom's number in the system it was
// selected from, its name, residue number and name, and chain.
void print_atom_records(const std::vector<AtomRecord>& atoms) {
  if (atoms.empty()) return;
  std::printf("atom records: %zu\n%8s %-4s %8s %-3s %s\n", atoms.size(), "number", "name",
              "residue", "res", "chain");
  for (const AtomRecord& a : atoms) {
    std::printf("%8d %-4s %8d %-3s %s\n", a.number, a.name.c_str(), a.resnum, a.resname.c_str(),
                a.chain.c_str());
  }
}

void kvt_info(const std::string& path) {
  const kvtfile kvtf = kvtopen(kKvtUnit, path);
  std::printf("%s: KVT file, version %s\n", path.c_str(), kvtf.magic.c_str());
  std::printf("title:     %s\n", kvtf.title.c_str());
  std::printf("atoms:     %d\nsnapshots: %d\nvectors:   %d\n", kvtf.natoms, kvtf.nframes,
              kvtf.nvecs);
  if (kvtf.status != 0) {
    std::printf(
        "status:    %d (the file is incomplete: only the vectors before the failing one "
        "were read)\n",
        kvtf.status);
  }
  if (kvtf.coded) print_coded_info(kvtf, file_size(path).value_or(0));
  double stored = 0.0;
  for (float e : kvtf.evals) stored += e;
  // A positive quality comes back as the total variance of the trajectory.
  const double total = kvtf.quality > 0.0f ? kvtf.quality : stored;
  std::printf("total variance: %.6g Å² (%s)\n", total,
              kvtf.quality > 0.0f ? "recorded in the file" : "of the stored vectors");
  if (total > 0.0) std::printf("captured:  %.2f %%\n", 100.0 * stored / total);
  std::printf("%8s %14s %9s %12s\n", "vector", "eigenvalue", "%", "cumulative %");
  double cumulative = 0.0;
  for (std::int32_t k = 0; k < kvtf.nvecs; ++k) {
    const double pct = total > 0.0 ? 100.0 * kvtf.evals[k] / total : 0.0;
    cumulative += pct;
    std::printf("%8d %14.6g %9.3f %12.3f\n", k + 1, kvtf.evals[k], pct, cumulative);
  }
  print_atom_records(kvtf.atoms);
}

const char* type_name(std::int32_t code) {
  switch (code) {
    case 1:
      return "AMBER formatted coordinates (crd), no box";
    case 2:
      return "AMBER formatted coordinates with box lines (crdbox)";
    case 3:
      return "binpos, no box";
    case 4:
      return "binpos with box";
    case 5:
      return "DCD, 4-byte record markers, no unit cell";
    case 6:
      return "DCD, 8-byte record markers, no unit cell";
    case 7:
      return "DCD, 4-byte record markers, unit cell";
    case 8:
      return "DCD, 8-byte record markers, unit cell";
    case 9:
      return "GROMACS XTC, box per frame";
    case 10:
      return "TRR, single precision";
    case 11:
      return "TRR, double precision";
    case 12:
      return "AMBER NetCDF";
    default:
      return "unknown";
  }
}

// With --top: the topology's counts, and what --select and the repair keep.
void topology_info(const Input& input) {
  const Topology& top = *input.plan().topology;
  std::printf("topology: %s (%s), %d atoms, %zu residue names, %zu bonds%s\n", top.source.c_str(),
              top.format.c_str(), top.natoms(), top.resnames.values().size(), top.bonds.size(),
              top.has_bonds ? "" : " (none in the file)");
  std::printf("stored:   %s\n", input.describe().c_str());
}

void trajectory_info(const std::string& path) {
  const std::unique_ptr<Input> input = Input::open(input_options(PbcMode::none, false, path));
  const FrameSource* source = &input->source();
  std::printf("%s: trajectory, %s\n", path.c_str(), type_name(source->type_code()));
  if (source->type_code() == kTypeXtc) {
    const float precision = source->xtc_precision();
    if (precision > 0.0f) {
      std::printf("precision: %g grid steps per nm (%g Å)\n", precision, 10.0 / precision);
    } else {
      std::printf("precision: full (at most 9 atoms: plain floats)\n");
    }
  }
  std::printf("atoms:  %d\nframes: %d\nbox:    %s\n", source->natoms(), source->count(),
              source->has_box() ? "yes" : "no");
  if (source->cut_inside_frame()) {
    std::printf("truncated: the file ends inside frame %d\n", source->count() + 1);
  }
  if (input->plan().topology) topology_info(*input);
}

}  // namespace

int run_info(const std::string& path) {
  if (!file_exists(path)) fail(path + ": no such file");
  if (is_kvt(path)) {
    kvt_info(path);
  } else {
    trajectory_info(path);
  }
  return 0;
}

}  // namespace kvtraj::app

// A stored PCA in the files gmx covar writes, for gmx anaeig and other readers of them:
// PREFIX.trr holds the reference structure (step -1, time -1; lambda 0: fitted without masses),
// the average (step 0, time 0), then every eigenvector as frame k with step k and its eigenvalue
// as the time; PREFIX.xvg lists the eigenvalues. GROMACS's units: nm and nm².
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "analysis/analysis.hpp"
#include "fmtwriters/fmtwriters.hpp"
#include "support/files.hpp"
#include "support/messages.hpp"

namespace kvtraj::analysis {
namespace {

bool write_eigenvalues(std::FILE* f, const kvtfile& kvtf) {
  std::fprintf(f, "# eigenvalues of %s, written by kvt\n", kvtf.filename.c_str());
  std::fprintf(f, "@    title \"Eigenvalues of the covariance matrix\"\n");
  std::fprintf(f, "@    xaxis  label \"Eigenvector index\"\n");
  std::fprintf(f, "@    yaxis  label \"(nm\\S2\\N)\"\n");
  std::fprintf(f, "@TYPE xy\n");
  for (std::int32_t k = 0; k < kvtf.nvecs; ++k) {
    std::fprintf(f, "%10d %g\n", k + 1, static_cast<double>(kvtf.evals[k]) / 100.0);
  }
  return std::ferror(f) == 0;
}

}  // namespace

bool write_gromacs(const std::string& prefix, const kvtfile& kvtf) {
  const std::string trr = prefix + ".trr", xvg = prefix + ".xvg";
  const std::unique_ptr<StampedTrr> vectors = StampedTrr::create(trr, kvtf.natoms);
  if (!vectors) return false;
  std::vector<float> average(kvtf.avg.size());
  for (std::size_t i = 0; i < average.size(); ++i) average[i] = kvtf.avg[i] / 10.0f;
  if (!vectors->write(average, {-1, -1.0f, 0.0f}) || !vectors->write(average, {0, 0.0f, 0.0f})) {
    return false;
  }
  const std::size_t n = kvtf.avg.size();
  for (std::int32_t k = 1; k <= kvtf.nvecs; ++k) {
    const auto v = std::span(kvtf.evecs).subspan(static_cast<std::size_t>(k - 1) * n, n);
    if (!vectors->write(v, {k, kvtf.evals[k - 1] / 100.0f, 0.0f})) return false;
  }
  const std::unique_ptr<ReplacingFile> values = ReplacingFile::create(xvg);
  if (!values || !write_eigenvalues(values->get(), kvtf)) {
    report_error(xvg + ": cannot be written: " + std::strerror(errno));
    return false;
  }
  if (!vectors->finish()) return false;
  if (values->commit()) return true;
  report_error(xvg + ": cannot be written: " + std::strerror(errno));
  return false;
}

}  // namespace kvtraj::analysis

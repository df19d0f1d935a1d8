// The files gmx covar writes, read back and checked as untrusted input. eigenvec.trr holds the
// reference structure of the fit (step -1, time -1; lambda -1 without a fit, else whether the fit
// was mass-weighted), the average (step 0; lambda 1 for a mass-weighted analysis), then vector k
// at step k with its eigenvalue as the time; eigenval.xvg lists the eigenvalues, one
// "index value" row each. Coordinates are nm and eigenvalues nm², turned into Å and Å² here.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "analysis/analysis.hpp"
#include "fmtreaders/fmtreaders.hpp"
#include "support/fatal.hpp"
#include "support/files.hpp"
#include "support/fortran_input.hpp"
#include "support/messages.hpp"

namespace kvtraj::analysis {
namespace {

constexpr double kUnitTolerance = 1e-4;   // |length² - 1| of a float vector of unit length
constexpr double kValueTolerance = 2e-5;  // relative: xvg values have six digits

// The frames of an eigenvector file in order, each failure fatal with the file's name.
class CovarFrames {
 public:
  explicit CovarFrames(const std::string& path) : path_(path) {
    std::string reason;
    const SinkInFront keep([&reason](const Message& m, const MessageSink& next) {
      if (m.kind == MessageKind::error) {
        reason = m.text;
      } else {
        next(m);
      }
    });
    frames_ = TrrFrames::open(path);
    if (!frames_) die(path + ": " + (reason.empty() ? "cannot be read as a TRR file" : reason));
  }

  // The next frame; false at the end of the file.
  bool next(TrrFrame& frame) {
    const int status = frames_->next(frame);
    if (status == kIoBadData) die(upcoming() + " is cut or malformed");
    if (status != kIoOk) return false;
    ++count_;
    return true;
  }
  // "PATH: frame N" for the frame last read, and for the one after it.
  std::string last() const { return path_ + ": frame " + std::to_string(count_); }
  std::string upcoming() const { return path_ + ": frame " + std::to_string(count_ + 1); }

 private:
  std::string path_;
  std::unique_ptr<TrrFrames> frames_;
  std::int64_t count_ = 0;
};

// Fatal unless the frame just read is `step` with the coordinates of `natoms` atoms (any count
// when 0); `what` names it in the messages.
void check_frame(const CovarFrames& frames, const TrrFrame& f, std::int32_t step,
                 std::int32_t natoms, const std::string& what) {
  if (f.step != step) {
    die(frames.last() + " has step " + std::to_string(f.step) + " where " + what + " (step " +
        std::to_string(step) + ") belongs");
  }
  if (f.x.empty()) die(frames.last() + " (" + what + ") holds no coordinates");
  if (natoms != 0 && f.natoms != natoms) {
    die(frames.last() + " (" + what + ") holds " + std::to_string(f.natoms) +
        " atoms, the average " + std::to_string(natoms));
  }
}

TrrFrame take(CovarFrames& frames, std::int32_t step, std::int32_t natoms,
              const std::string& what) {
  TrrFrame f;
  if (!frames.next(f)) {
    die(frames.upcoming() + " (" + what + ") is missing: gmx covar writes the reference " +
        "structure at step -1, the average at step 0, then eigenvectors 1, 2, ...");
  }
  check_frame(frames, f, step, natoms, what);
  return f;
}

std::vector<float> in_angstrom(const std::vector<float>& nm) {
  std::vector<float> a(nm.size());
  for (std::size_t i = 0; i < nm.size(); ++i) a[i] = nm[i] * 10.0f;
  return a;
}

void check_unit(const std::vector<float>& v, const std::string& at) {
  double sq = 0.0;
  for (const float x : v) sq += double{x} * x;
  if (!(std::fabs(sq - 1.0) <= kUnitTolerance)) {
    char length[32];
    std::snprintf(length, sizeof length, "%.6g", std::sqrt(sq));
    die(at + " is a vector of length " + length + ", not 1");
  }
}

// The "index value" rows of an xvg file, comments and GROMACS's @ and & lines passed over.
std::vector<double> xvg_values(const std::string& path) {
  const FilePtr f = open_file(path, "r");
  if (!f) die(path + ": cannot be opened");
  std::vector<double> values;
  char line[512];
  for (std::int64_t number = 1; std::fgets(line, sizeof line, f.get()); ++number) {
    if (std::strchr(line, '\n') == nullptr && !std::feof(f.get())) {
      die(path + ": line " + std::to_string(number) + " is too long");
    }
    const char* p = line + std::strspn(line, " \t\r\n");
    if (*p == '\0' || *p == '#' || *p == '@' || *p == '&') continue;
    long long index = 0;
    double value = 0.0;
    char rest[2];
    if (std::sscanf(p, "%lld %lf %1s", &index, &value, rest) != 2 ||
        index != static_cast<long long>(values.size()) + 1 || !std::isfinite(value)) {
      die(path + ": line " + std::to_string(number) + " is not the row of eigenvalue " +
          std::to_string(values.size() + 1) + " (index, value)");
    }
    values.push_back(value);
  }
  if (std::ferror(f.get())) die(path + ": cannot be read");
  return values;
}

void check_values(const GromacsPca& pca, const std::string& trr, const std::string& xvg) {
  const std::vector<double> listed = xvg_values(xvg);
  if (listed.size() != static_cast<std::size_t>(pca.nvecs)) {
    die(xvg + " lists " + std::to_string(listed.size()) + " eigenvalues, " + trr + " holds " +
        std::to_string(pca.nvecs) + " eigenvectors");
  }
  for (std::size_t k = 0; k < listed.size(); ++k) {
    const double stored = pca.evals[k] / 100.0, given = listed[k];
    if (std::fabs(stored - given) > kValueTolerance * std::fabs(stored) + 1e-9) {
      char text[96];
      std::snprintf(text, sizeof text, "%.6g in %s but %.6g", given, xvg.c_str(), stored);
      die("eigenvalue " + std::to_string(k + 1) + " is " + text + " in " + trr);
    }
  }
}

}  // namespace

GromacsPca read_gromacs(const std::string& trr, const std::string& xvg) {
  CovarFrames frames(trr);
  const TrrFrame reference = take(frames, -1, 0, "the reference structure");
  const TrrFrame average = take(frames, 0, reference.natoms, "the average");
  if (average.lambda != 0.0) {
    die(trr + ": a mass-weighted analysis (gmx covar -mwa); kvt's vectors are not weighted");
  }
  GromacsPca pca;
  pca.natoms = average.natoms;
  pca.reference = in_angstrom(reference.x);
  pca.average = in_angstrom(average.x);
  for (TrrFrame f; frames.next(f);) {
    check_frame(frames, f, pca.nvecs + 1, pca.natoms,
                "eigenvector " + std::to_string(pca.nvecs + 1));
    if (!std::isfinite(f.time)) die(frames.last() + ": the eigenvalue (its time) is not a number");
    check_unit(f.x, frames.last());
    pca.evecs.insert(pca.evecs.end(), f.x.begin(), f.x.end());
    pca.evals.push_back(static_cast<float>(f.time * 100.0));
    ++pca.nvecs;
  }
  if (pca.nvecs == 0) die(trr + ": holds no eigenvectors");
  check_values(pca, trr, xvg);
  return pca;
}

std::string eigenvalues_beside(const std::string& trr) {
  const std::size_t slash = trr.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : trr.substr(0, slash + 1);
  const std::size_t dot = trr.rfind('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
    const std::string same_name = trr.substr(0, dot) + ".xvg";
    if (file_exists(same_name)) return same_name;
  }
  const std::string covar_name = folder + "eigenval.xvg";
  return file_exists(covar_name) ? covar_name : std::string();
}

}  // namespace kvtraj::analysis

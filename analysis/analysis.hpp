// The analyses run on a stored PCA (a KVT file): projections of any trajectory's frames onto its
// vectors, the comparison of two sets of vectors (inner products, RMSIP, cumulative overlap,
// covariance overlap), the cosine content of a projection, the fluctuation of every atom within
// the kept vectors, the structures along one vector, the NMD text of VMD's Normal Mode Wizard
// and the eigenvector files of gmx covar (written, and read back so that a GROMACS PCA can be
// compared with a stored one). The `kvt` commands and the Python package are thin layers over
// these.
//
// Vectors are 3N reals each, column after column as in `kvtfile::evecs`; projections are
// column-major (frame i on vector k at i + frames * k), as in `kvtfile::proj`. Vector numbers
// count from 1. Failures end through `die` with one line, except in write_gromacs, which reports
// through the message sink and returns false.
//
// Threads: nothing here keeps state; `project` runs the engine's threads itself.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "kvt_io/kvt_io.hpp"
#include "pca/pca.hpp"
#include "support/atom_record.hpp"

#pragma GCC visibility push(default)  // the installed interface, exported by shared builds

namespace kvtraj::analysis {

// Vectors first..last of a file (from 1, inclusive).
struct VectorSpan {
  std::int32_t first = 1;
  std::int32_t last = 1;
  std::int32_t count() const { return last - first + 1; }
};
// Fatal unless 1 <= first <= last <= nvecs of `kvtf`.
VectorSpan checked_span(const kvtfile& kvtf, std::int32_t first, std::int32_t last);

// ---------------------------------------------------------------- projections

struct Projections {
  std::int64_t frames = 0;
  VectorSpan vectors;
  std::vector<float> values;  // frames x vectors.count(), column-major
};

// Every frame of `reader` fitted (unweighted, all atoms) onto the file's average, the average
// subtracted, and the result projected onto the chosen vectors. The frames are streamed in
// blocks over `threads` threads, as the engine reads them; only the projections are kept. With
// `fit` false the frames are only centred. Fatal when the reader's atom count is not the file's.
Projections project(pca::FrameReader& reader, const kvtfile& kvtf, VectorSpan vectors, int threads,
                    bool fit = true, const pca::ProgressFn& progress = {});

// Fatal when two sets of atom records both present disagree on an atom's name: `a` and `b` name
// the two sides in the message. Absent records (an empty list) are not checked.
void check_atom_names(std::span<const AtomRecord> a, std::span<const AtomRecord> b,
                      const std::string& a_name, const std::string& b_name);

// ---------------------------------------------------------------- subspaces

// |a_i . b_j| for the first `ka` vectors of `a` and `kb` of `b` (n reals each): ka x kb,
// column-major (i + ka * j).
std::vector<double> overlap_matrix(std::span<const float> a, std::int32_t ka,
                                   std::span<const float> b, std::int32_t kb, std::size_t n);
// Root mean square inner product of the first `ka` vectors of `a` with the first `kb` of `b`:
// sqrt(sum of (a_i . b_j)^2 / ka). 1 for the same subspace, 0 for orthogonal ones.
double rmsip(std::span<const float> a, std::int32_t ka, std::span<const float> b, std::int32_t kb,
             std::size_t n);
// How much of vector `i` (from 0) of `a` lies in the span of the first `kb` of `b`: the square
// root of the sum of the squared cosines between them.
double cumulative_overlap(std::span<const float> a, std::int32_t i, std::span<const float> b,
                          std::int32_t kb, std::size_t n);
// Hess's covariance overlap of two truncated covariances (vectors with their eigenvalues): 1 for
// equal ones, 0 for covariances on orthogonal subspaces.
double covariance_overlap(std::span<const float> a, std::span<const float> a_values,
                          std::span<const float> b, std::span<const float> b_values, std::size_t n);

// ---------------------------------------------------------------- one file

// Cosine content of projections p (one per frame) on vector k (from 1): how closely they follow
// half a cosine period per k, (2/T) (integral of cos(pi k t / T) p)^2 / integral of p^2, the
// integrals by Simpson's rule (averaged over both ends for an even number of frames, as SciPy's
// `simps`). Near 1 for random diffusion; 0 when p is all zero.
double cosine_content(std::span<const float> p, std::int32_t k);

// Root mean square fluctuation of every atom within the kept vectors (Å):
// sqrt(sum over k of eval_k |evec_k at the atom|^2).
std::vector<float> rmsf(const kvtfile& kvtf);

// The structures along vector k (from 1): `count` (2 or more) evenly spaced projections from the
// smallest to the largest stored one, times `scale`, then back without repeating the ends, so
// that played in a loop the motion is smooth: average + p(i) evec_k for each p(i).
std::vector<float> mode_amplitudes(const kvtfile& kvtf, std::int32_t k, std::int32_t count,
                                   float scale);
// The structure at one amplitude along vector k: average + amplitude evec_k (3N reals).
void mode_structure(const kvtfile& kvtf, std::int32_t k, float amplitude, std::span<float> out);

// Writes vectors 1..count in the NMD text of VMD's Normal Mode Wizard: the title, atom names,
// residue names and numbers, chains (when the file has atom records), the average as the
// coordinates, and one "mode" line per vector with its number and the square root of its
// eigenvalue as the mode's scale. The file appears only when complete; a failure is fatal.
void write_nmd(const std::string& path, const kvtfile& kvtf, std::int32_t count);

// Writes the PCA as gmx covar would: PREFIX.trr (the average as the reference structure and as
// the average, then each eigenvector as frame k with step k and its eigenvalue as the time) and
// PREFIX.xvg (the eigenvalues), in nm and nm². False, with the reason reported through the
// message sink, when a file cannot be written; neither is then left half written.
bool write_gromacs(const std::string& prefix, const kvtfile& kvtf);

// A PCA read from the files of gmx covar, in kvt's units (Å, Å²).
struct GromacsPca {
  std::int32_t natoms = 0;
  std::int32_t nvecs = 0;
  std::vector<float> reference;  // the fit's reference structure, 3N
  std::vector<float> average;    // 3N
  std::vector<float> evecs;      // nvecs vectors of 3N, unit length, column after column
  std::vector<float> evals;      // one per vector
};

// Reads an eigenvector file as gmx covar (and write_gromacs) writes it: the reference structure
// at step -1, the average at step 0, then vectors 1, 2, ... of unit length, each with its
// eigenvalue as the time, all of the same atoms; `xvg` must list the same eigenvalues (count and
// values). Anything else is fatal, one line naming the file and the frame. A mass-weighted
// analysis (gmx covar -mwa) is refused: its vectors are not comparable with kvt's.
GromacsPca read_gromacs(const std::string& trr, const std::string& xvg);
// The eigenvalue file that goes with `trr`: PREFIX.xvg beside PREFIX.trr (as write_gromacs names
// it) when it exists, else eigenval.xvg in the same folder (gmx covar's name); empty when neither
// exists.
std::string eigenvalues_beside(const std::string& trr);

}  // namespace kvtraj::analysis

#pragma GCC visibility pop

// The error-bounded side of the kvt commands: `compress --max-error E` (KVT7 output), the frames
// that `expand` writes from a KVT7 file (decoded, not rebuilt from the vectors), and the lines
// that `info` adds for one.
#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>

#include "apps/kvt/kvt_app.hpp"
#include "frames/frames.hpp"
#include "kvt_io/kvt_io.hpp"
#include "pca/bounded.hpp"
#include "pca/pca.hpp"

namespace kvtraj::app {

// --max-error E in Å, checked (a positive number), or nothing when not given.
std::optional<double> max_error_option();

// What kvt compress codes with when --max-error is given (nothing otherwise): the error, the
// vectors of --vectors, the solvent (--solvent SEL, or by default water and ions when there is
// a topology), and the checks of options that --max-error excludes.
std::optional<pca::BoundedOptions> bounded_options(std::optional<double> max_error,
                                                   const Input& input);
// The summary line of a KVT7 file written for `input` (its description).
void print_bounded_summary(const std::string& out, const std::string& input,
                           const pca::BoundedSummary& summary);

// Snapshot i (from 1) of a KVT file as expand writes it: decoded from a KVT7 file's coded part
// unless vectors were asked for, otherwise rebuilt from the vectors.
class SnapshotSource {
 public:
  SnapshotSource(const kvtfile& kvtf, const VectorRange& vectors, bool vectors_given);
  void read(std::int32_t i, std::span<float> out);

 private:
  const kvtfile& kvtf_;
  VectorRange vectors_;
  std::unique_ptr<kvtframes> frames_;
};

// The maximum error and the shares of the file's bytes, for kvt info of a KVT7 file.
void print_coded_info(const kvtfile& kvtf, std::uint64_t file_bytes);

}  // namespace kvtraj::app

// A program outside kvtraj's tree: opens a trajectory through trajsrc, compresses it with the pca
// engine into a KVT file and queries that file through kvt_io. It prints the file's counts and
// its eigenvalues (one per line, %.9g, as `kvt query --evals` prints them), so that its output
// can be compared with the kvt program's.
//   downstream TRAJ OUT.kvt VECTORS
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>

#include "fmtreaders/fmtreaders.hpp"
#include "kvt_io/kvt_io.hpp"
#include "pca/pca.hpp"
#include "support/fatal.hpp"
#include "support/messages.hpp"
#include "trajsrc/trajsrc.hpp"

namespace {

// The selected snapshots of a trajectory as the engine's frames (numbered from 0).
class TrajectoryFrames final : public kvtraj::pca::FrameReader {
 public:
  explicit TrajectoryFrames(const std::string& name) : name_(name) {
    traj_ = kvtraj::xopen(name, natoms_);
  }
  ~TrajectoryFrames() override { kvtraj::xclose(traj_); }
  TrajectoryFrames(const TrajectoryFrames&) = delete;
  TrajectoryFrames& operator=(const TrajectoryFrames&) = delete;

  std::int32_t natoms() const override { return natoms_; }
  std::int64_t frames() const override { return traj_.nsnaps; }
  std::string name() const override { return name_; }
  void read(std::int64_t first, std::int64_t count, std::span<float> out) override {
    const std::size_t size = 3 * static_cast<std::size_t>(natoms_);
    for (std::int64_t k = 0; k < count; ++k) {
      kvtraj::xsnap(traj_, out.subspan(static_cast<std::size_t>(k) * size, size),
                    static_cast<std::int32_t>(first + k + 1));
      if (traj_.status != 0) throw std::runtime_error("cannot read frame of " + name_);
    }
  }

 private:
  std::string name_;
  std::int32_t natoms_ = 0;
  kvtraj::trajectory traj_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: downstream TRAJ OUT.kvt VECTORS\n");
    return 1;
  }
  // Standard output holds the results alone: the readers' notes are dropped, their warnings
  // and errors go to standard error.
  kvtraj::set_message_sink([](const kvtraj::Message& m) {
    if (m.kind != kvtraj::MessageKind::info) kvtraj::write_to_stream({m.kind, m.text, stderr});
  });
  kvtraj::set_fatal_action(kvtraj::throw_fatal_error);
  try {
    kvtraj::f77_molfile_init();
    TrajectoryFrames frames(argv[1]);
    kvtraj::pca::Options options;
    options.choice = {kvtraj::pca::VectorChoice::count, std::atof(argv[3])};
    options.threads = 1;
    const kvtraj::pca::Summary summary = kvtraj::pca::compress(frames, argv[2], options);

    const kvtraj::kvtfile kvt = kvtraj::kvtopen(10, argv[2]);
    std::printf("atoms %d frames %d vectors %d (engine: %d atoms, %lld frames, %d vectors)\n",
                kvt.natoms, kvt.nframes, kvt.nvecs, summary.natoms,
                static_cast<long long>(summary.frames), summary.kept);
    for (const float value : kvtraj::kvtevals(kvt)) std::printf("%.9g\n", value);
  } catch (const kvtraj::FatalError& e) {
    return e.status;  // the message went through the modules' sink
  } catch (const std::exception& e) {
    std::fprintf(stderr, "downstream: %s\n", e.what());
    return 1;
  }
  return 0;
}

// binpos: the magic "fxyz", then per frame natoms, 3N reals and, for boxed trajectories, six
// reals a, b, c, alpha, beta, gamma.
#include "fmtwriters/formats.hpp"

namespace kvtraj {
namespace {

class BinposWriter final : public TrajectoryWriter {
 public:
  explicit BinposWriter(WriterSetup s)
      : TrajectoryWriter(std::move(s.out), std::move(s.path), s.natoms, s.with_cell) {}

 private:
  bool put_header(std::string_view) override { return put("fxyz", 4); }

  bool put_frame(std::span<const float> coords, const UnitCell& cell) override {
    const std::int32_t n = natoms();
    if (!put(&n, sizeof n) || !put(coords.data(), coords.size_bytes())) return false;
    if (!with_cell()) return true;
    const float box[6] = {cell.a, cell.b, cell.c, cell.alpha, cell.beta, cell.gamma};
    return put(box, sizeof box);
  }
};

}  // namespace

std::unique_ptr<TrajectoryWriter> make_binpos_writer(WriterSetup setup) {
  return std::make_unique<BinposWriter>(std::move(setup));
}

}  // namespace kvtraj

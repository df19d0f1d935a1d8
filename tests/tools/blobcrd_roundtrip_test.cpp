// The AMBER file that blobcrd writes reads back through the AMBER reader of fmtreaders.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fmtreaders/fmtreaders.hpp"
#include "tests/testsupport/testsupport.hpp"
#include "tests/tools/converter_run.hpp"

namespace kvtraj::testing {
namespace {

// Three records of `kNodes` nodes converted and read back frame by frame.
template <int kNodes>
void round_trip() {
  constexpr int kFrames = 3;
  std::string input;
  std::vector<float> expected;
  for (int f = 0; f < kFrames; ++f) {
    input += "*\nBlob 0, step " + std::to_string(f) + "\nDYNAMIC\n" + std::to_string(kNodes) + "\n";
    for (int n = 0; n < kNodes; ++n) {
      const std::array<double, 3> nm{0.25 * n - 3.1, 17.123 * f, -0.004 * (n + f)};
      for (const double v : nm) {
        std::array<char, 32> metres{};
        std::snprintf(metres.data(), metres.size(), "%.9e ", v * 1e-9);
        input += metres.data();
        expected.push_back(static_cast<float>(v));
      }
      input += "0 0 0 0 0 0 0\n";
    }
  }
  TempDir dir;
  const Conversion c = convert_text(BLOBCRD, input, dir);
  ASSERT_EQ(c.run.status, 0) << c.run.out;

  f77_molfile_init();
  std::int32_t handle = 0, natoms = 0, status = 0;
  f77_molfile_open_read(handle, natoms, c.out, "crd");
  ASSERT_GE(handle, kFirstHandle);
  std::vector<float> coords(3 * kNodes);
  std::array<float, 6> box{};
  for (int f = 0; f < kFrames; ++f) {
    f77_molfile_read_next(handle, kNodes, coords, box, status);
    ASSERT_EQ(status, 1) << "frame " << f;
    for (int i = 0; i < 3 * kNodes; ++i) {
      EXPECT_NEAR(coords[i], expected[3 * kNodes * f + i], 0.0005) << "frame " << f << " " << i;
    }
  }
  f77_molfile_read_next(handle, kNodes, coords, box, status);
  EXPECT_EQ(status, 0);
  f77_molfile_close_read(handle, status);
}

// Frames of a line of ten values and a line of two.
TEST(BlobcrdRoundTrip, FramesReadBackInNanometres) {
  round_trip<4>();
}

// Frames of 30 values end on a full line: no empty line may follow, or the next frame would
// start on it.
TEST(BlobcrdRoundTrip, FramesOfFullLinesStayAligned) {
  round_trip<10>();
}

}  // namespace
}  // namespace kvtraj::testing

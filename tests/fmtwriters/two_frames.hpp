// The trajectory of two atoms and two frames that the writer tests write in each format.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "fmtwriters/fmtwriters.hpp"

namespace kvtraj::testing {

inline const std::vector<float> kFrame1 = {1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f};
inline const std::vector<float> kFrame2 = {-1.5f, 0.25f, 9.0f, 7.0f, 8.0f, -0.125f};

// Writes kFrame1 and kFrame2, both with `cell`, under the title "two frames".
inline void write_two_frames(const std::string& path, TrajectoryFormat format, bool with_cell,
                             const UnitCell& cell) {
  auto w = TrajectoryWriter::create(path, format, 2, with_cell, "two frames");
  ASSERT_TRUE(w);
  ASSERT_TRUE(w->write_frame(kFrame1, cell));
  ASSERT_TRUE(w->write_frame(kFrame2, cell));
  ASSERT_TRUE(w->finish());
}

}  // namespace kvtraj::testing

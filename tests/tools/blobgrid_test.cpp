// blobgrid run as a user would: node and topology files byte for byte, messages and exit
// statuses, and the geometry of the mesh it writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/files.hpp"
#include "tests/testsupport/testsupport.hpp"

namespace kvtraj::testing {
namespace {

constexpr int kFailure = 255;  // the program's status -1
const std::string kUsage =
    "Usage: blobgrid [num_nodes_x] [num_nodes_y] [num_nodes_z] [OUTPUT FILE NODES] [OUTPUT FILE "
    "TOPOLOGY]\n";

struct Grid {
  RunResult run;
  std::string nodes;
  std::string topology;
};

Grid make_grid(const TempDir& dir, const std::string& nx, const std::string& ny,
               const std::string& nz) {
  Grid g;
  g.run = run_program(BLOBGRID, {nx, ny, nz, dir.path("nodes"), dir.path("topology")});
  if (file_exists(dir.path("nodes"))) g.nodes = read_file(dir.path("nodes"));
  if (file_exists(dir.path("topology"))) g.topology = read_file(dir.path("topology"));
  return g;
}

TEST(Blobgrid, SmallMeshesMatchTheGoldenFiles) {
  // 3 2 2 holds an even and an odd cube; a dimension of 1 gives nodes without elements, one
  // of 0 gives no nodes.
  for (const std::string shape : {"2x2x2", "3x2x2", "2x1x3", "0x3x3"}) {
    TempDir dir;
    const Grid g = make_grid(dir, shape.substr(0, 1), shape.substr(2, 1), shape.substr(4, 1));
    EXPECT_EQ(g.run.status, 0) << shape;
    EXPECT_EQ(g.run.out, "Creating mesh with dimensions of " + shape + " nodes\n");
    EXPECT_EQ(g.nodes, read_file(data_path("tools/grid_" + shape + ".nodes"))) << shape;
    EXPECT_EQ(g.topology, read_file(data_path("tools/grid_" + shape + ".topology"))) << shape;
  }
}

TEST(Blobgrid, DimensionsWithoutANumberCountAsZero) {
  TempDir dir;
  const Grid g = make_grid(dir, "abc", "3", "3");
  EXPECT_EQ(g.run.status, 0);
  EXPECT_EQ(g.nodes, read_file(data_path("tools/grid_0x3x3.nodes")));
}

TEST(Blobgrid, UsageErrors) {
  TempDir dir;
  RunResult r = run_program(BLOBGRID, {"2", "2", "2", dir.path("nodes")});
  EXPECT_EQ(r.status, kFailure);
  EXPECT_EQ(r.out, kUsage);
  for (const auto& dims : std::vector<std::array<std::string, 3>>{
           {"-1", "2", "2"}, {"2", "-3", "2"}, {"2", "2", "-2"}}) {
    const Grid g = make_grid(dir, dims[0], dims[1], dims[2]);
    EXPECT_EQ(g.run.status, kFailure);
    EXPECT_EQ(g.run.out, kUsage);
    EXPECT_FALSE(file_exists(dir.path("nodes")));
  }
}

TEST(Blobgrid, RefusesCountsBeyond32Bits) {
  // 1290^3 nodes fit in 32 bits, their 5·1289^3 tetrahedra do not.
  for (const auto& dims :
       std::vector<std::array<std::string, 3>>{{"2000", "2000", "2000"},
                                               {"1290", "1290", "1290"},
                                               {"3000000000", "1", "1"},
                                               {"99999999999999999999999", "0", "0"}}) {
    TempDir dir;
    const Grid g = make_grid(dir, dims[0], dims[1], dims[2]);
    EXPECT_EQ(g.run.status, kFailure) << dims[0];
    EXPECT_NE(g.run.out.find("nodes is too large: counts must fit in 32 bits\n"), std::string::npos)
        << g.run.out;
    EXPECT_FALSE(file_exists(dir.path("nodes")));
  }
}

TEST(Blobgrid, OpenFailuresDescribeTheSystemError) {
  TempDir dir;
  const std::string bad = dir.path("no-such-dir/file");
  RunResult r = run_program(BLOBGRID, {"2", "2", "2", bad, dir.path("topology")});
  EXPECT_EQ(r.status, kFailure);
  EXPECT_EQ(r.out, "Creating mesh with dimensions of 2x2x2 nodes\nUnable to open nodes file " +
                       bad + " for writing:\n");
  EXPECT_EQ(r.err, "No such file or directory\n");
  EXPECT_FALSE(file_exists(dir.path("topology")));

  r = run_program(BLOBGRID, {"2", "2", "2", dir.path("nodes"), bad});
  EXPECT_EQ(r.status, kFailure);
  EXPECT_EQ(r.out, "Creating mesh with dimensions of 2x2x2 nodes\nUnable to open topology file " +
                       bad + " for writing:\n");
  EXPECT_EQ(r.err, "No such file or directory\n");
  EXPECT_EQ(read_file(dir.path("nodes")), read_file(data_path("tools/grid_2x2x2.nodes")));
}

TEST(Blobgrid, WriteFailuresAreReported) {
  TempDir dir;
  RunResult r = run_program(BLOBGRID, {"2", "2", "2", "/dev/full", dir.path("topology")});
  EXPECT_EQ(r.status, kFailure);
  EXPECT_EQ(r.out,
            "Creating mesh with dimensions of 2x2x2 nodes\nUnable to write nodes file "
            "/dev/full:\n");
  EXPECT_EQ(r.err, "No space left on device\n");
  EXPECT_FALSE(file_exists(dir.path("topology")));

  r = run_program(BLOBGRID, {"2", "2", "2", dir.path("nodes"), "/dev/full"});
  EXPECT_EQ(r.status, kFailure);
  EXPECT_EQ(r.err, "No space left on device\n");
}

// The mesh geometry read back from the two files.
using Point = std::array<long long, 3>;
using Tetrahedron = std::array<long long, 4>;

std::vector<std::string> body_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return std::vector<std::string>(lines.begin() + std::min<std::size_t>(6, lines.size()),
                                  lines.end());
}

template <std::size_t N>
std::vector<std::array<long long, N>> parse_rows(const std::string& text) {
  std::vector<std::array<long long, N>> rows;
  for (const std::string& line : body_lines(text)) {
    std::istringstream in(line);
    std::array<long long, N> row{};
    for (auto& v : row) in >> v;
    EXPECT_TRUE(in && in.eof()) << line;
    rows.push_back(row);
  }
  return rows;
}

// Six times the signed volume.
long long volume6(const std::vector<Point>& p, const Tetrahedron& t) {
  std::array<std::array<long long, 3>, 3> e{};
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) e[r][c] = p[t[r + 1]][c] - p[t[0]][c];
  }
  return e[0][0] * (e[1][1] * e[2][2] - e[1][2] * e[2][1]) -
         e[0][1] * (e[1][0] * e[2][2] - e[1][2] * e[2][0]) +
         e[0][2] * (e[1][0] * e[2][1] - e[1][1] * e[2][0]);
}

TEST(Blobgrid, TetrahedraFillEveryCubeAndMatchAcrossFaces) {
  constexpr long long nx = 4, ny = 3, nz = 3;
  TempDir dir;
  const Grid g = make_grid(dir, "4", "3", "3");
  ASSERT_EQ(g.run.status, 0);
  const auto points = parse_rows<3>(g.nodes);
  const auto tetrahedra = parse_rows<4>(g.topology);
  const long long cubes = (nx - 1) * (ny - 1) * (nz - 1);
  ASSERT_EQ(points.size(), static_cast<std::size_t>(nx * ny * nz));
  ASSERT_EQ(tetrahedra.size(), static_cast<std::size_t>(5 * cubes));
  EXPECT_NE(g.topology.find("num_elements " + std::to_string(5 * cubes) + "\n"), std::string::npos);
  for (std::size_t i = 0; i < points.size(); ++i) {
    const Point& p = points[i];
    EXPECT_EQ(static_cast<long long>(i), p[0] + nx * p[1] + nx * ny * p[2]);
  }

  std::map<std::array<long long, 3>, int> face_uses;
  for (std::size_t cube = 0; cube < static_cast<std::size_t>(cubes); ++cube) {
    long long filled = 0;
    Point low = points[tetrahedra[5 * cube][0]], high = low;
    for (std::size_t t = 5 * cube; t < 5 * cube + 5; ++t) {
      const long long v = volume6(points, tetrahedra[t]);
      EXPECT_NE(v, 0) << "degenerate tetrahedron " << t;
      filled += std::llabs(v);
      for (const long long node : tetrahedra[t]) {
        for (int c = 0; c < 3; ++c) {
          low[c] = std::min(low[c], points[node][c]);
          high[c] = std::max(high[c], points[node][c]);
        }
      }
      for (int skip = 0; skip < 4; ++skip) {
        std::array<long long, 3> face{};
        for (int k = 0, f = 0; k < 4; ++k) {
          if (k != skip) face[f++] = tetrahedra[t][k];
        }
        std::sort(face.begin(), face.end());
        ++face_uses[face];
      }
    }
    EXPECT_EQ(filled, 6) << "cube " << cube << " is not filled by its five tetrahedra";
    for (int c = 0; c < 3; ++c) EXPECT_EQ(high[c] - low[c], 1) << "cube " << cube;
  }
  // A conforming mesh: every triangle is shared by two tetrahedra, or lies on the surface of
  // the block, which its squares cover with two triangles each.
  long long surface = 0;
  for (const auto& [face, uses] : face_uses) {
    EXPECT_LE(uses, 2);
    if (uses == 1) ++surface;
  }
  EXPECT_EQ(surface, 4 * ((nx - 1) * (ny - 1) + (ny - 1) * (nz - 1) + (nx - 1) * (nz - 1)));
}

}  // namespace
}  // namespace kvtraj::testing

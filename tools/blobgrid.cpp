// blobgrid: builds a block of nodes on the integer lattice, splits every lattice cube into five
// tetrahedra (alternating like a chessboard so that neighbouring cubes share face diagonals) and
// writes the node file and the topology file of the finite-element node simulation.
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>

#include "support/fatal.hpp"
#include "support/files.hpp"
#include "support/interrupts.hpp"
#include "support/sizes.hpp"

namespace {

constexpr int kFailure = -1;
constexpr long long kMaxCount = INT32_MAX;  // the simulation reads counts and indices as int
constexpr int kTetrahedraPerCube = 5;

struct Mesh {
  long long nx = 0;
  long long ny = 0;
  long long nz = 0;
  long long nodes = 0;
  long long elements = 0;  // the tetrahedra actually written

  long long index(long long x, long long y, long long z) const { return x + nx * (y + ny * z); }
};

// Corner offsets (dx, dy, dz) of the five tetrahedra of a cube whose lower corner has an even
// coordinate sum; cubes with an odd sum use the complemented offsets.
using Corner = std::array<int, 3>;
constexpr std::array<std::array<Corner, 4>, kTetrahedraPerCube> kEvenCube{{
    {{{0, 0, 0}, {1, 1, 0}, {1, 0, 1}, {0, 1, 1}}},  // the central tetrahedron
    {{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {1, 0, 1}}},
    {{{0, 0, 0}, {0, 0, 1}, {0, 1, 1}, {1, 0, 1}}},
    {{{1, 1, 0}, {1, 0, 1}, {0, 1, 1}, {1, 1, 1}}},
    {{{0, 0, 0}, {0, 1, 1}, {1, 1, 0}, {0, 1, 0}}},
}};

void print_usage() {
  std::printf(
      "Usage: blobgrid [num_nodes_x] [num_nodes_y] [num_nodes_z] [OUTPUT FILE NODES] "
      "[OUTPUT FILE TOPOLOGY]\n");
}

// The mesh of nx × ny × nz nodes, or nothing (after a message) when a count would not fit in 32
// bits. Dimensions are non-negative.
std::optional<Mesh> make_mesh(long long nx, long long ny, long long nz) {
  Mesh mesh{nx, ny, nz};
  const auto plane = kvtraj::checked_mul(nx, ny);
  const auto nodes = plane ? kvtraj::checked_mul(static_cast<std::int64_t>(*plane), nz) : plane;
  if (nx > kMaxCount || ny > kMaxCount || nz > kMaxCount || !nodes || *nodes > kMaxCount) {
    std::printf("Mesh of %lldx%lldx%lld nodes is too large: counts must fit in 32 bits\n", nx, ny,
                nz);
    return std::nullopt;
  }
  mesh.nodes = static_cast<long long>(*nodes);
  if (nx >= 2 && ny >= 2 && nz >= 2) {
    // Fits in 64 bits: five times a count below the node count.
    mesh.elements = kTetrahedraPerCube * (nx - 1) * (ny - 1) * (nz - 1);
  }
  if (mesh.elements > kMaxCount) {
    std::printf("Mesh of %lldx%lldx%lld nodes is too large: counts must fit in 32 bits\n", nx, ny,
                nz);
    return std::nullopt;
  }
  return mesh;
}

void write_nodes(std::FILE* out, const Mesh& mesh) {
  std::fprintf(out,
               "vortan node file\nnum_nodes %lld\nnum_surface_nodes ?\nnum_interior_nodes ?\n"
               "surface nodes:\ninterior nodes:\n",
               mesh.nodes);
  for (long long z = 0; z < mesh.nz; ++z) {
    for (long long y = 0; y < mesh.ny; ++y) {
      for (long long x = 0; x < mesh.nx; ++x) std::fprintf(out, "%lld %lld %lld\n", x, y, z);
    }
  }
}

void write_cube(std::FILE* out, const Mesh& mesh, long long k, long long j, long long i) {
  const int flip = static_cast<int>((k + j + i) % 2);
  for (const auto& tetrahedron : kEvenCube) {
    std::array<long long, 4> corner{};
    for (std::size_t c = 0; c < corner.size(); ++c) {
      const Corner& d = tetrahedron[c];
      corner[c] = mesh.index(k + (d[0] ^ flip), j + (d[1] ^ flip), i + (d[2] ^ flip));
    }
    std::fprintf(out, "%lld %lld %lld %lld\n", corner[0], corner[1], corner[2], corner[3]);
  }
}

void write_topology(std::FILE* out, const Mesh& mesh) {
  std::fprintf(out,
               "vortan topology file\nnum_elements %lld\nnum_surface_elements ?\n"
               "num_interior_elements ?\nsurface elements:\ninterior elements:\n",
               mesh.elements);
  if (mesh.elements == 0) return;
  for (long long i = 0; i + 1 < mesh.nz; ++i) {
    for (long long j = 0; j + 1 < mesh.ny; ++j) {
      for (long long k = 0; k + 1 < mesh.nx; ++k) write_cube(out, mesh, k, j, i);
    }
  }
}

// The system's description of `error` on its own line on standard error, after the message.
void report_system_error(int error) {
  std::fflush(stdout);
  std::fprintf(stderr, "%s\n", std::strerror(error));
}

// Creates `path` and fills it through `write`; false after a message when that fails.
bool write_file(const char* path, const char* kind, const Mesh& mesh,
                const std::function<void(std::FILE*, const Mesh&)>& write) {
  // The file replaces an existing one only once it is complete.
  const auto out = kvtraj::ReplacingFile::create(path);
  if (!out) {
    const int error = errno;
    std::printf("Unable to open %s file %s for writing:\n", kind, path);
    report_system_error(error);
    return false;
  }
  write(out->get(), mesh);
  if (!out->commit()) {
    const int error = errno;
    std::printf("Unable to write %s file %s:\n", kind, path);
    report_system_error(error);
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  kvtraj::stop_on_signals("blobgrid");
  kvtraj::die_when_out_of_memory();
  if (argc != 6) {
    print_usage();
    return kFailure;
  }
  const long long nx = std::strtoll(argv[1], nullptr, 10);
  const long long ny = std::strtoll(argv[2], nullptr, 10);
  const long long nz = std::strtoll(argv[3], nullptr, 10);
  if (nx < 0 || ny < 0 || nz < 0) {
    print_usage();
    return kFailure;
  }
  const std::optional<Mesh> mesh = make_mesh(nx, ny, nz);
  if (!mesh) return kFailure;
  std::printf("Creating mesh with dimensions of %lldx%lldx%lld nodes\n", nx, ny, nz);
  if (!write_file(argv[4], "nodes", *mesh, write_nodes)) return kFailure;
  if (!write_file(argv[5], "topology", *mesh, write_topology)) return kFailure;
  return 0;
}

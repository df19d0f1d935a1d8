// blobxyz: converts a node trajectory of the finite-element simulation into plain coordinate
// triples, one "x y z" line per node in metres, with nothing between records. Records whose
// count line says STATIC carry no nodes and write nothing.
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "support/files.hpp"

namespace {

constexpr int kFailure = -1;
constexpr int kCountLineLength = 100;  // 99 characters and the terminating zero

enum class Outcome { kEndOfInput, kBadInput, kWriteFailed };

struct Header {
  int blob = -1;  // before the first header
  long long step = 0;
};

// Consumes an optional "*" and the character after it; true when the input has ended.
bool at_end_of_input(std::FILE* in) {
  const int c = std::getc(in);
  if (c == '*') {
    std::getc(in);
  } else {
    std::ungetc(c, in);
  }
  return std::feof(in);
}

// Reads the node lines of one record: ten reals each, the first three written.
bool convert_nodes(std::FILE* in, std::FILE* out, long long count, const Header& header) {
  for (long long node = 0; node < count; ++node) {
    std::array<double, 3> xyz{};
    const int result =
        std::fscanf(in, "%lf %lf %lf %*f %*f %*f %*f %*f %*f %*f\n", &xyz[0], &xyz[1], &xyz[2]);
    if (result != 3) {
      std::printf("result = %d\n", result);
      std::printf("Error reading node %lld info at Blob %d, step %lld\n", node, header.blob,
                  header.step);
      return false;
    }
    std::fprintf(out, "%le %le %le\n", xyz[0], xyz[1], xyz[2]);
  }
  return true;
}

// Reads the count line of a record whose header has been read, then its nodes.
bool convert_record(std::FILE* in, std::FILE* out, const Header& header) {
  std::array<char, kCountLineLength> line{};
  if (!std::fgets(line.data(), static_cast<int>(line.size()), in)) {
    std::printf("Error\n");
    return false;
  }
  if (std::strcmp(line.data(), "STATIC\n") == 0) return true;
  const long long count = std::strtoll(line.data(), nullptr, 10);  // a word gives 0 nodes
  if (count < 0) {
    std::printf("Error\n");
    return false;
  }
  return convert_nodes(in, out, count, header);
}

Outcome convert(std::FILE* in, std::FILE* out) {
  Header header;
  while (!at_end_of_input(in)) {
    if (std::fscanf(in, "Blob %d, step %lld\n", &header.blob, &header.step) != 2) {
      std::printf("Error reading header info after Blob %d at step %lld\n", header.blob,
                  header.step);
      return Outcome::kBadInput;
    }
    if (!convert_record(in, out, header)) return Outcome::kBadInput;
    if (std::ferror(out)) return Outcome::kWriteFailed;
  }
  return Outcome::kEndOfInput;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::printf("Usage: ./blobxyz [INPUT TRAJECTORY FNAME] [XYZ OUTPUT FNAME]\n");
    return kFailure;
  }
  std::printf("traj = %s\n", argv[1]);
  std::printf("out = %s\n", argv[2]);
  kvtraj::FilePtr in = kvtraj::open_file(argv[1], "r");
  if (!in) {
    std::printf("Could not open %s for reading\n", argv[1]);
    return kFailure;
  }
  // The output replaces an existing file only once it is complete.
  const auto out = kvtraj::ReplacingFile::create(argv[2]);
  if (!out) {
    std::printf("Could not open %s for writing\n", argv[2]);
    return kFailure;
  }
  const Outcome outcome = convert(in.get(), out->get());
  // A write failure stopped the conversion or shows when the last block is flushed. Damaged
  // input keeps the records converted before the damage.
  if (!out->commit()) {
    std::printf("Could not write %s: %s\n", argv[2], std::strerror(errno));
    return kFailure;
  }
  if (outcome == Outcome::kBadInput) return kFailure;
  std::printf("Reached end of file. No errors.");
  return 0;
}

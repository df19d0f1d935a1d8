// Node positions as plain "x y z" lines in metres, with blobxyz's own record rules: an optional
// "*" before each header, a count line that may say STATIC (a record without nodes), node lines
// of ten reals of which the first three are written.
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "support/messages.hpp"
#include "tools/node_trajectory.hpp"

namespace kvtraj {
namespace {

constexpr int kCountLineLength = 100;  // 99 characters and the terminating zero

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

bool convert_nodes(std::FILE* in, std::FILE* out, long long count, const Header& header) {
  for (long long node = 0; node < count; ++node) {
    std::array<double, 3> xyz{};
    const int result =
        std::fscanf(in, "%lf %lf %lf %*f %*f %*f %*f %*f %*f %*f\n", &xyz[0], &xyz[1], &xyz[2]);
    if (result != 3) {
      emitf(MessageKind::error, "result = %d", result);
      emitf(MessageKind::error, "Error reading node %lld info at Blob %d, step %lld", node,
            header.blob, header.step);
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
    report_error("Error");
    return false;
  }
  if (std::strcmp(line.data(), "STATIC\n") == 0) return true;
  const long long count = std::strtoll(line.data(), nullptr, 10);  // a word gives 0 nodes
  if (count < 0) {
    report_error("Error");
    return false;
  }
  return convert_nodes(in, out, count, header);
}

}  // namespace

Conversion convert_to_xyz(std::FILE* in, std::FILE* out) {
  Header header;
  while (!at_end_of_input(in)) {
    if (std::fscanf(in, "Blob %d, step %lld\n", &header.blob, &header.step) != 2) {
      emitf(MessageKind::error, "Error reading header info after Blob %d at step %lld", header.blob,
            header.step);
      return Conversion::kBadInput;
    }
    if (!convert_record(in, out, header)) return Conversion::kBadInput;
    if (std::ferror(out)) return Conversion::kWriteFailed;
  }
  return Conversion::kEndOfInput;
}

}  // namespace kvtraj

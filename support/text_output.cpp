// Checked text output: closing a stream with every earlier write failure taken into account,
// and fixed-column number fields that refuse values wider than their columns.
#include <cerrno>
#include <cmath>

#include "support/support.hpp"

namespace kvtraj {

bool close_output(std::FILE* out) {
  const bool written = std::fflush(out) == 0 && !std::ferror(out);
  const int error = errno;
  const bool closed = std::fclose(out) == 0;
  if (!written) errno = error;
  return written && closed;
}

bool format_f8_3(double value, std::array<char, 16>& field) {
  const int length = std::snprintf(field.data(), field.size(), "%8.3f", value);
  return std::isfinite(value) && length == 8;
}

}  // namespace kvtraj

#include "apps/kvt/output_format.hpp"

#include <cmath>

namespace kvtraj::app {

TrajectoryFormat output_format(const std::string& path) {
  const auto format = format_from_extension(path);
  if (!format) {
    fail(path + ": unknown output format (use .dcd, .binpos, .crd, .crdbox, .xtc or .nc)");
  }
  return *format;
}

float output_precision(TrajectoryFormat format) {
  const auto precision = real_option("--precision");
  if (!precision) return 0.0f;
  if (format != TrajectoryFormat::xtc) fail("--precision applies to .xtc output only");
  if (!(*precision > 0.0f) || !std::isfinite(*precision)) {
    fail("--precision must be a positive number of grid steps per nm");
  }
  return *precision;
}

KeptErrors::KeptErrors()
    : previous_(set_message_sink([this](const Message& m) {
        if (m.kind == MessageKind::error) {
          last_ = m.text;
        } else {
          previous_ ? previous_(m) : write_to_stream(m);
        }
      })) {}

KeptErrors::~KeptErrors() {
  set_message_sink(std::move(previous_));
}

}  // namespace kvtraj::app

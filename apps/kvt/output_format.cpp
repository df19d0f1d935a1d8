#include "apps/kvt/output_format.hpp"

#include <cmath>

namespace kvtraj::app {

TrajectoryFormat output_format(const std::string& path) {
  const auto format = format_from_extension(path);
  if (!format) {
    fail(path + ": unknown output format (use .dcd, .binpos, .crd, .crdbox, .xtc, .trr or .nc)");
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
    : front_([this](const Message& m, const MessageSink& next) {
        if (m.kind == MessageKind::error) {
          last_ = m.text;
        } else {
          next(m);
        }
      }) {}

}  // namespace kvtraj::app

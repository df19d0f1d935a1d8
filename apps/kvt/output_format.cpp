#include "apps/kvt/output_format.hpp"

#include "apps/kvt/kvt_app.hpp"

namespace kvtraj::app {

TrajectoryFormat output_format(const std::string& path) {
  const auto format = format_from_extension(path);
  if (!format) fail(path + ": unknown output format (use .dcd, .binpos, .crd, .crdbox or .nc)");
  return *format;
}

}  // namespace kvtraj::app

// The trajectory format of an output file, chosen by its extension.
#pragma once

#include <string>

#include "fmtwriters/fmtwriters.hpp"

namespace kvtraj::app {

// The format named by `path`'s extension; an unknown extension is an error.
TrajectoryFormat output_format(const std::string& path);

}  // namespace kvtraj::app

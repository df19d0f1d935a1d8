// The trajectory format of an output file, chosen by its extension.
#pragma once

#include <string>

#include "fmtwriters/fmtwriters.hpp"

namespace kvtraj::app {

// The format named by `path`'s extension; an unknown extension is an error.
TrajectoryFormat output_format(const std::string& path);
// The XTC grid of --precision P (steps per nm), 0 when not given (the writer's default); an
// error for other formats or a value that is not positive.
float output_precision(TrajectoryFormat format);

}  // namespace kvtraj::app

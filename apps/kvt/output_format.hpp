// The trajectory output of kvt expand and convert: the format chosen by the file's extension,
// and the writer's steps ended with the writer's own reason when they fail.
#pragma once

#include <string>

#include "apps/kvt/kvt_app.hpp"
#include "fmtwriters/fmtwriters.hpp"
#include "support/messages.hpp"

namespace kvtraj::app {

// The format named by `path`'s extension; an unknown extension is an error.
TrajectoryFormat output_format(const std::string& path);
// The XTC grid of --precision P (steps per nm), 0 when not given (the writer's default); an
// error for other formats or a value that is not positive.
float output_precision(TrajectoryFormat format);

// While it lives, the error texts of the modules are kept instead of shown (other texts pass on),
// so that a command failing for a module's reason prints that reason once, as its own line.
class KeptErrors {
 public:
  KeptErrors();
  const std::string& last() const { return last_; }

 private:
  std::string last_;
  SinkInFront front_;
};

// Runs one step of a writer (create, write_frame, finish) and returns its result; when it fails,
// ends the command with the reason the writer reported.
template <class Step>
auto written(Step step) {
  const KeptErrors errors;
  auto result = step();
  if (!result) fail(errors.last());
  return result;
}

}  // namespace kvtraj::app

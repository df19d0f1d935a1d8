// A benchmark main for code that writes messages on standard output: the messages go to
// /dev/null, the console report to the original standard output.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  std::fflush(stdout);
  const int report_fd = ::dup(1);
  if (report_fd < 0 || !std::freopen("/dev/null", "w", stdout)) return 1;
  std::ofstream console("/dev/fd/" + std::to_string(report_fd));
  benchmark::ConsoleReporter reporter;
  reporter.SetOutputStream(&console);
  reporter.SetErrorStream(&console);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}

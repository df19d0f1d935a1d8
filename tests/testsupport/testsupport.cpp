#include "tests/testsupport/testsupport.hpp"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "support/fatal.hpp"
#include "support/messages.hpp"

namespace kvtraj::testing {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "kvtraj-test-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  root_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(root_, ec);
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void write_file(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                      std::string_view input, long file_size_limit) {
  const TempDir dir;
  const std::string in = dir.path("stdin"), out = dir.path("stdout"), err = dir.path("stderr");
  write_file(in, input);
  std::vector<std::string> argv_text = {program};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    const int fds[3] = {::open(in.c_str(), O_RDONLY),
                        ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600),
                        ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600)};
    for (int i = 0; i < 3; ++i) ::dup2(fds[i], i);
    if (file_size_limit >= 0) {
      const rlimit limit{static_cast<rlim_t>(file_size_limit),
                         static_cast<rlim_t>(file_size_limit)};
      ::setrlimit(RLIMIT_FSIZE, &limit);
      std::signal(SIGXFSZ, SIG_IGN);  // writes then fail with EFBIG instead of ending the process
    }
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  int wstatus = 0;
  ::waitpid(pid, &wstatus, 0);
  RunResult r;
  r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  r.out = read_file(out);
  r.err = read_file(err);
  return r;
}

FatalOutcome catch_fatal(const std::function<void()>& statement) {
  FatalOutcome outcome;
  MessageSink previous_sink = set_message_sink(
      [&outcome](const Message& m) { outcome.texts.append(m.text).push_back('\n'); });
  const FatalAction previous_action = set_fatal_action(throw_fatal_error);
  try {
    statement();
  } catch (const FatalError& e) {
    outcome.raised = true;
    outcome.status = e.status;
  }
  set_fatal_action(previous_action);
  set_message_sink(std::move(previous_sink));
  return outcome;
}

}  // namespace kvtraj::testing

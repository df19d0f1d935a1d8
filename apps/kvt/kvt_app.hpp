// The commands of the `kvt` program and the pieces they share: errors that end a command with
// one line on standard error, option helpers on top of clopts, progress reports, the input
// trajectory (a file with an optional selection, or an album). The analysis itself is the pca
// module's.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "frames/frames.hpp"
#include "pca/pca.hpp"

namespace kvtraj::app {

// A failure of a command: main prints "kvt: " + what() on standard error and exits with 1.
struct AppError : std::runtime_error {
  using std::runtime_error::runtime_error;
};
[[noreturn]] void fail(const std::string& message);

// The processes that share a compression: this one's rank among them, the reducer of their
// partial sums, and the gathering of the projections onto rank 0, which alone writes the file.
// The default is one process.
class Team {
 public:
  virtual ~Team() = default;
  virtual int rank() const { return 0; }
  virtual int size() const { return 1; }
  virtual pca::Reducer* reducer() { return nullptr; }
  // Replaces the projections of this process's frames [first, last) by those of every frame
  // on rank 0; the last step that involves all processes.
  virtual void gather(pca::Components& c, std::int64_t first, std::int64_t last) {
    (void)c, (void)first, (void)last;
  }
};

// Commands. Each reads its options through clopts and returns the exit status.
int run_compress(Team& team);
int run_compress();
int run_expand();
int run_convert();
int run_info(const std::string& path);
int run_query();
int run_select();
int run_project();
int run_compare();
int run_modes();
int run_export();

// Usage texts: the program's, or a command's (empty command: the program's). A command's text
// may be printed under another program's name (kvt-mpi), its lines aligned to that name.
void print_usage(std::FILE* stream, std::string_view command);
void print_usage_as(std::FILE* stream, std::string_view command, std::string_view program);
bool is_command(std::string_view command);

// ---------------------------------------------------------------- options

// Checks that every argument after the command is a known option (flags take no value, the
// others one value) or, when `positional` is given, at most that many plain arguments, which it
// returns.
std::vector<std::string> check_arguments(std::span<const std::string_view> flags,
                                         std::span<const std::string_view> valued,
                                         std::size_t positional = 0);
std::optional<std::string> text_option(std::string_view flag);
// The same for texts that may exceed a file name's 160 characters (selections).
std::optional<std::string> long_text_option(std::string_view flag);
std::string required_text(std::string_view flag, std::string_view what);
std::optional<std::int32_t> int_option(std::string_view flag);
std::optional<float> real_option(std::string_view flag);

// A range of vector indices "FIRST:LAST" (either side may be left out) or "K" for 1..K.
struct VectorRange {
  std::optional<std::int32_t> first, last;
};
VectorRange parse_vector_range(std::string_view text);
// --threads T (default 2, at least 1).
int threads_option();

// ---------------------------------------------------------------- input

// The input a command names: -i TRAJ or --album LIST, --natoms N, and --top FILE, --index
// FILE.ndx, --select SEL, --pbc none|whole|nojump. `default_pbc` holds when --pbc is not given
// (for compression only with a topology and frames that carry cells). A `trajectory` given
// stands for -i (a command's positional argument).
InputOptions input_options(PbcMode default_pbc, bool default_needs_cells,
                           const std::string& trajectory = "");
// The options that input_options reads.
inline constexpr std::array<std::string_view, 7> kInputOptions = {
    "-i", "--album", "--natoms", "--top", "--index", "--select", "--pbc"};

// ---------------------------------------------------------------- progress

// Progress lines on standard error (step, count done, rate, time left), shown only on a
// terminal and unless silenced.
class Progress {
 public:
  explicit Progress(bool enabled);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;
  // Starts a step, e.g. "reading"; `total` 0 when unknown.
  void begin(std::string_view step, std::int64_t total = 0);
  void update(std::int64_t done);
  void end();
  // The engine's progress events drawn as steps; the callback refers to this object.
  pca::ProgressFn callback();

 private:
  void draw(std::int64_t done);
  bool enabled_ = false;
  bool open_ = false;
  std::string step_;
  std::int64_t total_ = 0;
  double started_ = 0.0;
  double last_draw_ = 0.0;
};

}  // namespace kvtraj::app

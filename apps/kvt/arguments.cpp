#include <algorithm>
#include <charconv>

#include "apps/kvt/kvt_app.hpp"
#include "clopts/clopts.hpp"

namespace kvtraj::app {
namespace {

bool listed(std::span<const std::string_view> names, std::string_view arg) {
  return std::find(names.begin(), names.end(), arg) != names.end();
}

// Negative numbers are values, not options.
bool looks_like_option(std::string_view arg) {
  return arg.size() > 1 && arg[0] == '-' && !(arg[1] >= '0' && arg[1] <= '9') && arg[1] != '.';
}

}  // namespace

void fail(const std::string& message) {
  throw AppError(message);
}

std::vector<std::string> check_arguments(std::span<const std::string_view> flags,
                                         std::span<const std::string_view> valued,
                                         std::size_t positional) {
  const auto& args = arguments();  // args[0] is the command
  std::vector<std::string> plain;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (listed(valued, arg)) {
      if (i + 1 == args.size()) fail(std::string(arg) + " needs a value");
      ++i;
    } else if (!listed(flags, arg) && arg != "--verbose") {
      if (looks_like_option(arg)) fail("unknown option " + std::string(arg) + " (see --help)");
      if (plain.size() == positional) fail("unexpected argument " + std::string(arg));
      plain.emplace_back(arg);
    }
  }
  return plain;
}

std::optional<std::string> text_option(std::string_view flag) {
  std::string value;
  if (!getcarg(flag, value)) return std::nullopt;
  return value;
}

std::optional<std::string> long_text_option(std::string_view flag) {
  constexpr std::size_t kLongest = 1 << 16;
  std::string value;
  if (!getcarg(flag, value, kLongest)) return std::nullopt;
  return value;
}

std::string required_text(std::string_view flag, std::string_view what) {
  auto value = text_option(flag);
  if (!value || value->empty()) fail(std::string(flag) + " is missing: give " + std::string(what));
  return *value;
}

std::optional<std::int32_t> int_option(std::string_view flag) {
  std::int32_t value = 0;
  if (!getiarg(flag, value)) return std::nullopt;
  return value;
}

std::optional<float> real_option(std::string_view flag) {
  float value = 0.0f;
  if (!getrarg(flag, value)) return std::nullopt;
  return value;
}

InputOptions input_options(PbcMode default_pbc, bool default_needs_cells,
                           const std::string& trajectory) {
  InputOptions o;
  o.natoms = int_option("--natoms").value_or(0);
  if (o.natoms < 0) fail("--natoms must not be negative");
  if (!trajectory.empty()) {
    o.trajectory = trajectory;
  } else if (auto list = text_option("--album")) {
    if (text_option("-i")) fail("give either -i or --album, not both");
    o.trajectory = *list;
    o.album = true;
  } else {
    o.trajectory = required_text("-i", "an input trajectory");
  }
  o.topology = text_option("--top").value_or("");
  o.index = text_option("--index").value_or("");
  o.select = long_text_option("--select").value_or("");
  if (!o.select.empty() && o.topology.empty()) fail("--select needs a topology: give --top");
  if (!o.index.empty() && o.topology.empty()) fail("--index needs a topology: give --top");
  if (const auto pbc = text_option("--pbc")) {
    o.pbc = pbc_from_name(*pbc);
    if (!o.pbc) fail("--pbc must be none, whole or nojump");
  }
  o.default_pbc = default_pbc;
  o.default_needs_cells = default_needs_cells;
  return o;
}

int threads_option() {
  const std::int32_t threads = int_option("--threads").value_or(2);
  if (threads < 1) fail("--threads must be 1 or more");
  return threads;
}

VectorRange parse_vector_range(std::string_view text) {
  const std::string message = "--vectors: \"" + std::string(text) + "\" is not FIRST:LAST or K";
  // One side of the range, 0 when it is left out.
  const auto bound = [&](std::string_view part) {
    std::int32_t value = 0;
    if (part.empty()) return value;
    const auto [end, ec] = std::from_chars(part.data(), part.data() + part.size(), value);
    if (ec != std::errc() || end != part.data() + part.size() || value < 1) fail(message);
    return value;
  };
  const auto colon = text.find(':');
  if (text.empty() || text.find(':', colon + 1) != std::string_view::npos) fail(message);
  const bool single = colon == std::string_view::npos;
  const std::int32_t first = single ? 1 : bound(text.substr(0, colon));
  const std::int32_t last = bound(single ? text : text.substr(colon + 1));
  VectorRange range;
  if (first > 0) range.first = first;
  if (last > 0) range.last = last;
  return range;
}

}  // namespace kvtraj::app

// kvt select: the atoms a selection picks from a topology, as their numbers (from 1) on standard
// output or as a GROMACS index group.
#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <optional>

#include "apps/kvt/kvt_app.hpp"
#include "support/files.hpp"
#include "topology/selection.hpp"
#include "topology/topology.hpp"

namespace kvtraj::app {
namespace {

// GROMACS writes 15 numbers a line, each "%4d" after a line break or a blank.
constexpr std::size_t kGroupColumns = 15;
constexpr int kGroupWidth = 4;
// Output is gathered and written in pieces of about this many bytes.
constexpr std::size_t kChunk = 1 << 20;

// Appends `value` right-aligned in `width` characters (wider when it needs more).
void append_number(std::string& out, std::int64_t value, int width) {
  std::array<char, 24> digits{};
  const auto end = std::to_chars(digits.data(), digits.data() + digits.size(), value).ptr;
  const auto length = static_cast<int>(end - digits.data());
  if (length < width) out.append(static_cast<std::size_t>(width - length), ' ');
  out.append(digits.data(), end);
}

bool write_out(std::FILE* f, std::string& buffer) {
  const bool ok = std::fwrite(buffer.data(), 1, buffer.size(), f) == buffer.size();
  buffer.clear();
  return ok;
}

void print_numbers(const std::vector<std::int32_t>& atoms) {
  std::string buffer;
  for (const std::int32_t a : atoms) {
    append_number(buffer, std::int64_t{a} + 1, 0);
    buffer += '\n';
    if (buffer.size() >= kChunk && !write_out(stdout, buffer)) break;
  }
  write_out(stdout, buffer);  // main checks the stream once it is flushed
}

// The selection as a group name: blanks become underscores, brackets and quotes (which the
// index file's syntax or a later `group` would trip on) are left out.
std::string group_name(std::string_view selection) {
  std::string name;
  for (const char c : selection) {
    if (c == '[' || c == ']' || c == '"') continue;
    const bool blank = c == ' ' || (c >= '\t' && c <= '\r');
    if (!blank) {
      name += c;
    } else if (!name.empty() && name.back() != '_') {
      name += '_';
    }
  }
  while (!name.empty() && name.back() == '_') name.pop_back();
  return name;
}

void write_group(const std::string& path, const std::string& name,
                 const std::vector<std::int32_t>& atoms) {
  auto file = ReplacingFile::create(path);
  if (!file) fail(path + ": cannot be written (" + std::strerror(errno) + ")");
  std::string buffer = "[ " + name + " ]";
  bool ok = true;
  for (std::size_t k = 0; k < atoms.size() && ok; ++k) {
    buffer += k % kGroupColumns == 0 ? '\n' : ' ';
    append_number(buffer, std::int64_t{atoms[k]} + 1, kGroupWidth);
    if (buffer.size() >= kChunk) ok = write_out(file->get(), buffer);
  }
  buffer += '\n';
  if (!(ok && write_out(file->get(), buffer) && file->commit())) {
    fail(path + ": cannot be written (" + std::strerror(errno) + ")");
  }
}

}  // namespace

int run_select() {
  static constexpr std::array<std::string_view, 4> kValued = {"--top", "--index", "-o", "--name"};
  const auto texts = check_arguments({}, kValued, 1);
  if (texts.empty()) fail("select needs a selection (see kvt select --help)");
  const std::string top_path = required_text("--top", "the topology file");
  const auto index_path = text_option("--index");
  const auto out = text_option("-o");
  const auto name = text_option("--name");
  if (name && !out) fail("--name goes with -o");
  if (name && (name->empty() || name->find_first_of("[]\n\r") != std::string::npos)) {
    fail("--name: a group name must be non-empty, without brackets or line breaks");
  }
  for (const auto& path : {std::optional(top_path), index_path}) {
    if (path && !file_exists(*path)) fail(*path + ": no such file");
  }

  // The text is checked before a large topology is read.
  const Selection selection = Selection::parse(texts.front());
  const Topology top = read_topology(top_path);
  std::optional<IndexGroups> groups;
  if (index_path) groups = read_index_groups(*index_path, top.natoms());
  const std::vector<std::int32_t> atoms = selection.evaluate(top, groups ? &*groups : nullptr);
  if (out) {
    write_group(*out, name.value_or(group_name(selection.text())), atoms);
  } else {
    print_numbers(atoms);
  }
  return 0;
}

}  // namespace kvtraj::app

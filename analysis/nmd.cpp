// The NMD text of VMD's Normal Mode Wizard: one keyword per line followed by its values, blank
// separated; the coordinates fix the atom count, every mode line holds its number, its scale and
// 3N components.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

#include "analysis/analysis.hpp"
#include "support/fatal.hpp"
#include "support/files.hpp"

namespace kvtraj::analysis {
namespace {

// A field of texts, left out when any of them is empty or holds a blank: the reader splits on
// blanks and would shift the atoms.
template <class Text>
void text_field(std::FILE* f, const char* key, std::span<const AtomRecord> atoms,
                const Text& text) {
  for (const AtomRecord& a : atoms) {
    const std::string t = text(a);
    if (t.empty() || t.find_first_of(" \t") != std::string::npos) return;
  }
  std::fputs(key, f);
  for (const AtomRecord& a : atoms) std::fprintf(f, " %s", text(a).c_str());
  std::fputc('\n', f);
}

void values_line(std::FILE* f, std::span<const float> values, const char* format) {
  for (float v : values) std::fprintf(f, format, static_cast<double>(v));
  std::fputc('\n', f);
}

}  // namespace

void write_nmd(const std::string& path, const kvtfile& kvtf, std::int32_t count) {
  checked_span(kvtf, 1, count);
  const std::unique_ptr<ReplacingFile> out = ReplacingFile::create(path);
  if (!out) die(path + ": cannot be created");
  std::FILE* f = out->get();
  const std::string title = kvtf.title.find_first_not_of(' ') == std::string::npos
                                ? std::string("kvt modes")
                                : kvtf.title;
  std::fprintf(f, "title %s\n", title.c_str());
  const std::span<const AtomRecord> atoms = kvtf.atoms;
  text_field(f, "atomnames", atoms, [](const AtomRecord& a) { return a.name; });
  text_field(f, "resnames", atoms, [](const AtomRecord& a) { return a.resname; });
  text_field(f, "resids", atoms, [](const AtomRecord& a) { return std::to_string(a.resnum); });
  text_field(f, "chainids", atoms, [](const AtomRecord& a) { return a.chain; });
  std::fputs("coordinates", f);
  values_line(f, kvtf.avg, " %.3f");
  const std::size_t n = kvtf.avg.size();
  for (std::int32_t k = 0; k < count; ++k) {
    std::fprintf(f, "mode %d %.6g", k + 1, std::sqrt(std::max(0.0, double{kvtf.evals[k]})));
    values_line(f, std::span(kvtf.evecs).subspan(static_cast<std::size_t>(k) * n, n), " %.6f");
  }
  if (!out->commit()) die(path + ": could not be written");
}

}  // namespace kvtraj::analysis

#include "apps/kvt/table.hpp"

#include <charconv>
#include <iterator>
#include <memory>

#include "apps/kvt/kvt_app.hpp"
#include "clopts/clopts.hpp"
#include "support/files.hpp"

namespace kvtraj::app {
namespace {

void notes(std::FILE* out, const Table& t) {
  for (const std::string& note : t.notes) std::fprintf(out, "# %s\n", note.c_str());
}

void xvg_header(std::FILE* out, const Table& t) {
  std::fprintf(out, "# %s, written by kvt\n", t.title.c_str());
  notes(out, t);
  std::fprintf(out, "@    title \"%s\"\n", t.title.c_str());
  std::fprintf(out, "@    xaxis  label \"%s\"\n", t.x_label.c_str());
  std::fprintf(out, "@    yaxis  label \"%s\"\n", t.y_label.c_str());
  std::fprintf(out, "@TYPE xy\n");
  for (std::size_t c = 0; c < t.legends.size(); ++c) {
    std::fprintf(out, "@ s%zu legend \"%s\"\n", c, t.legends[c].c_str());
  }
}

void csv_header(std::FILE* out, const Table& t) {
  notes(out, t);
  std::fputs(t.x_label.c_str(), out);
  for (const std::string& legend : t.legends) std::fprintf(out, ",%s", legend.c_str());
  std::fputc('\n', out);
}

}  // namespace

TableStyle table_style() {
  const bool xvg = getflag("--xvg"), csv = getflag("--csv");
  if (xvg && csv) fail("give only one of --xvg and --csv");
  return xvg ? TableStyle::xvg : csv ? TableStyle::csv : TableStyle::plain;
}

TableStyle table_style_of(const std::string& path) {
  const auto ends_with = [&](std::string_view ext) {
    return path.size() > ext.size() && path.compare(path.size() - ext.size(), ext.size(), ext) == 0;
  };
  if (ends_with(".xvg")) return TableStyle::xvg;
  if (ends_with(".csv")) return TableStyle::csv;
  fail(path + ": tables are written as .xvg or .csv");
}

void print_table(std::FILE* out, const Table& t, TableStyle style) {
  if (style == TableStyle::xvg) xvg_header(out, t);
  if (style == TableStyle::csv) csv_header(out, t);
  const char separator = style == TableStyle::csv ? ',' : ' ';
  // Rows are formatted with to_chars, which writes exactly what %.9g writes at a fraction of
  // printf's cost: the tables of long trajectories are millions of values.
  std::string line;
  char number[40];
  for (std::int64_t r = 0; r < t.rows; ++r) {
    line.clear();
    if (style != TableStyle::plain) {
      line.append(number, std::to_chars(number, std::end(number), r + 1).ptr);
    }
    for (std::size_t c = 0; c < t.legends.size(); ++c) {
      if (c > 0 || style != TableStyle::plain) line.push_back(separator);
      line.append(number, std::to_chars(number, std::end(number), t.value(r, c),
                                        std::chars_format::general, 9)
                              .ptr);
    }
    line.push_back('\n');
    std::fwrite(line.data(), 1, line.size(), out);
  }
}

void write_table(const std::string& path, const Table& table) {
  const TableStyle style = table_style_of(path);
  const std::unique_ptr<ReplacingFile> out = ReplacingFile::create(path);
  if (!out) fail(path + ": cannot be created");
  print_table(out->get(), table, style);
  if (!out->commit()) fail(path + ": could not be written");
}

}  // namespace kvtraj::app

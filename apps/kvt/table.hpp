// Tables the commands print: columns of values by row (snapshots, atoms, vectors), one row a line
// blank separated by default (one value per line for one column), or, with --xvg, as GROMACS xvg
// (a header of comments, title, axis labels and a legend per column, the row number first), or
// with --csv as comma-separated values under a header row. Notes (single values that belong with
// the table) open the xvg and csv styles as comment lines, "# " first, which numpy, pandas
// (comment='#') and xmgrace pass over; the plain style leaves them out.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kvtraj::app {

enum class TableStyle { plain, xvg, csv };

struct Table {
  std::string title;
  std::string x_label;               // what the rows are ("snapshot"); rows are numbered from 1
  std::string y_label;               // what the values are, with their unit
  std::vector<std::string> legends;  // one per column
  std::vector<std::string> notes;    // comment lines of the xvg and csv styles
  std::int64_t rows = 0;
  std::function<double(std::int64_t row, std::size_t column)> value;
};

// The flags that choose a style, and the style they choose (plain without either; both at once
// is an error).
inline constexpr std::array<std::string_view, 2> kTableFlags = {"--xvg", "--csv"};
TableStyle table_style();
// The style of an output file by its extension: .xvg or .csv, any other name is an error.
TableStyle table_style_of(const std::string& path);

void print_table(std::FILE* out, const Table& table, TableStyle style);
// Writes the table to `path` in the style of its extension; the file appears only when complete.
void write_table(const std::string& path, const Table& table);

}  // namespace kvtraj::app

// Readers of plain column files: single column (rd1col), two column (rd2col)
// and multiple columns with a sentinel for missing cells (rdmcol).
#include <algorithm>
#include <climits>
#include <cstddef>
#include <cmath>
#include <string>
#include <string_view>
#include <vector>

#include "common/text.h"
#include "input/reader_support.h"
#include "input/readers.h"
#include "textio/free_format.h"

namespace quorvane::input {

using textio::FreeRead;
using textio::ReadStatus;

namespace {

// The whole-year part of an x value, as an integer year.
int truncated_year(float x) {
  if (!(x > static_cast<float>(INT_MIN) && x < static_cast<float>(INT_MAX))) return 0;
  return static_cast<int>(x);
}

enum class CellKind : unsigned char { Number, Missing, NotANumber };

// One data cell of a multiple-column file: the sentinel, a number or text.
struct Cell {
  float value = 0.0f;
  CellKind kind = CellKind::NotANumber;
};

// The X cell of a row: the time of the row's values.
struct RowTime {
  double time = 0.0;
  std::size_t line = 0;  // the file line of the X cell
  bool read = false;
};

// The sentinel is compared on the cell's first 8 characters; a number is
// read from the whole cell, so long numbers keep every digit.
Cell read_cell(const std::string& text, const std::string& sentinel) {
  Cell cell;
  if (name8(text) == sentinel) {
    cell.kind = CellKind::Missing;
  } else if (textio::parse_real(text, cell.value)) {
    cell.kind = CellKind::Number;
  }
  return cell;
}

RowTime read_row_time(const std::string& text, std::size_t line) {
  RowTime row;
  row.read = textio::parse_time(text, row.time);
  row.line = line;
  return row;
}

}  // namespace

bool rd1col(textio::Writer& console, textio::LineReader& file, SeriesTable& table) {
  table.series.clear();
  std::string line;
  // Each block: name line, first-year line, then one value per line until a
  // line that is not a number (the next name line) or the end of the file.
  while (file.next_line(line)) {
    Series series;
    series.name = name8(line);
    FreeRead year_read(file);
    if (year_read.integer(series.iyr1) != ReadStatus::Ok) {
      console.line(" Rd1col: Error reading series IYR value");
      console.write("(8x,'Series: ',a,' Number: ',i5)",
                    {series.name, static_cast<long long>(table.series.size() + 1)});
      return false;
    }
    // One read per line: only its first number is taken, and lines with
    // no token are passed over, as a free-format read of one value does.
    // (The lines are looked at in the reader's own buffer: a million-value
    // column is read at the pace of its parsing.)
    ReadStatus status = ReadStatus::End;
    std::string_view text;
    while (file.next_line(text)) {
      float value = 0.0f;
      const ReadStatus read = textio::first_free_real(text, value);
      if (read == ReadStatus::End) continue;
      if (read == ReadStatus::Error) {
        status = read;
        break;
      }
      series.values.push_back(value);
    }
    series.iyrn = last_year(series.iyr1, series.values.size());
    table.series.push_back(std::move(series));
    end_block(file, status);
  }
  return true;
}

bool rd2col(textio::Console& console, textio::LineReader& file, SeriesTable& table) {
  table.series.clear();
  long long lskip = ask_lskip(console);
  if (!skip_lines(console, file, lskip)) return false;
  return read_two_columns(console, file, table);
}

namespace {

// Split blocks told one by one; beyond these, only their count.
constexpr std::size_t kToldSplits = 10;

// The first blank-, tab- or comma-separated token of `line`.
std::string_view first_token(std::string_view line) {
  const std::size_t start = line.find_first_not_of(" \t,");
  if (start == std::string_view::npos) return {};
  const std::size_t end = line.find_first_of(" \t,", start);
  return line.substr(start, end == std::string_view::npos ? end : end - start);
}

// The trimmed text of a line for a message, at most 60 bytes of it.
std::string line_excerpt(std::string_view line) {
  const std::size_t start = line.find_first_not_of(" \t");
  if (start == std::string_view::npos) return {};
  return shortened(line.substr(start, line.find_last_not_of(" \t\r") - start + 1), 60);
}

std::string trimmed_name(std::string name) {
  while (!name.empty() && name.back() == ' ') name.pop_back();
  return name;
}

}  // namespace

bool read_two_columns(textio::Writer& /*messages*/, textio::LineReader& file, SeriesTable& table) {
  table.series.clear();
  table.notes.clear();
  std::string header;
  bool ended_by_a_line = false;  // the last block ended at a line read again as a header
  std::size_t splits = 0;
  while (file.next_line(header)) {
    // A block ends at the first line that is not two numbers, which starts
    // the next block. That line is normally the next header; one that
    // begins with a number (an infinite, NaN or out-of-range time, or a
    // time without a readable value) splits the record where the user
    // expects none, so the split is told.
    if (ended_by_a_line && !table.series.empty() && number_like(first_token(header)) &&
        ++splits <= kToldSplits) {
      const Series& before = table.series.back();
      const std::size_t line = file.position();
      const std::string ended =
          before.values.empty()
              ? "' has no values"
              : "' ends at line " + std::to_string(before.lines.line(before.values.size() - 1));
      table.notes.push_back(
          "Line " + std::to_string(line) + " ('" + line_excerpt(header) +
          "') holds no readable time and value: series '" + trimmed_name(before.name) + ended +
          ", and the lines after it form a new series named '" +
          trimmed_name(name8(header.size() > 8 ? header.substr(8) : "")) +
          "' (characters 9-16 of that line, read as a block header)");
    }
    // "(2a)": columns 1-8 name the x column, columns 9-16 the y column.
    Series pair;
    pair.x_name = name8(header);
    pair.name = name8(header.size() > 8 ? header.substr(8) : std::string());
    ReadStatus status;
    while (true) {
      FreeRead pair_read(file);
      double x = 0.0;
      float y = 0.0f;
      status = pair_read.time(x);
      const std::size_t line = file.position();
      if (status == ReadStatus::Ok) status = pair_read.real(y);
      if (status != ReadStatus::Ok) break;
      // The years are those of the x value as single precision reads it.
      if (pair.time.empty()) pair.iyr1 = truncated_year(static_cast<float>(x));
      pair.iyrn = truncated_year(static_cast<float>(x));
      pair.lines.add(pair.time.size(), line);
      pair.time.push_back(x);
      pair.values.push_back(y);
    }
    table.series.push_back(std::move(pair));
    ended_by_a_line = status == ReadStatus::Error;
    end_block(file, status);
  }
  if (splits > kToldSplits)
    table.notes.push_back(std::to_string(splits - kToldSplits) +
                          " more lines holding no readable time and value split the record "
                          "the same way");
  return true;
}

bool rdmcol(textio::Console& console, textio::LineReader& file, SeriesTable& table) {
  table.series.clear();
  long long lskip = ask_lskip(console);
  if (!skip_lines(console, file, lskip)) return false;
  console.blank_line();
  console.line(" Enter the total number of columns in your file");
  long long ncol = console.ask_fixed_integer(" [Program assumes Col_1 contains the X values] : ", 4);
  if (!usable_column_count(console, ncol)) return false;
  console.blank_line();
  console.line(" Enter the sentinal value or character used to ");
  std::string sentinel = console.ask_text(" pad the records [can not be spaces, if ******* enter *] : ");
  return read_multiple_columns(console, file, ncol, sentinel, table);
}

bool usable_column_count(textio::Writer& messages, long long ncol) {
  if (ncol >= 2) return true;
  messages.line(" A file of multiple columns needs at least 2 columns: the X column and one series.");
  return false;
}

bool read_multiple_columns(textio::Writer& console, textio::LineReader& file, long long ncol,
                           const std::string& typed_sentinel, SeriesTable& table) {
  table.series.clear();
  if (!usable_column_count(console, ncol)) return false;
  const std::string sentinel = name8(typed_sentinel);

  // Every row of the file as ncol tokens, the header row first. A row may
  // continue on the next line; tokens beyond ncol on a line are ignored; a
  // row cut short by the end of the file is dropped. Each data cell is
  // classified as it is read, so that the table takes a few bytes a cell
  // instead of a string.
  const auto columns = static_cast<std::size_t>(ncol);
  std::vector<std::string> names;
  std::vector<Cell> cells;      // data rows, columns 2..ncol of each
  std::vector<RowTime> times;   // data rows, column 1
  std::vector<std::string> row_names;
  std::vector<Cell> row_cells;
  std::string token;
  bool header = true;
  while (true) {
    FreeRead row_read(file);
    std::size_t taken = 0;
    row_names.clear();
    row_cells.clear();
    RowTime row_time;
    while (taken < columns && row_read.token(token) == ReadStatus::Ok) {
      if (header) {
        row_names.push_back(name8(token));
      } else if (taken == 0) {
        row_time = read_row_time(token, file.position());
      } else {
        row_cells.push_back(read_cell(token, sentinel));
      }
      ++taken;
    }
    if (taken < columns) break;
    if (header) {
      names.swap(row_names);
      header = false;
    } else {
      times.push_back(row_time);
      cells.insert(cells.end(), row_cells.begin(), row_cells.end());
    }
  }
  if (names.empty()) return true;
  const std::size_t rows = times.size();
  const std::size_t width = columns - 1;

  // A missing cell is a sample missing at its own time: each value keeps the
  // X value of its row as its time, so the values after a gap stay at their
  // years. Missing cells before the first value or after the last simply
  // shorten the series.
  for (std::size_t column = 1; column < columns; ++column) {
    Series series;
    series.name = names[column];
    for (std::size_t r = 0; r < rows; ++r) {
      const Cell& cell = cells[r * width + column - 1];
      if (cell.kind == CellKind::Missing) continue;
      if (cell.kind == CellKind::NotANumber) {
        console.line(" Error reading ys values check sentinel if ******* enter *");
        return false;
      }
      if (!times[r].read) {
        console.write_free({std::string("error reading iyr")});
        return false;
      }
      series.lines.add(series.time.size(), times[r].line);
      series.time.push_back(times[r].time);
      series.values.push_back(cell.value);
    }
    if (!series.time.empty()) {
      series.iyr1 = truncated_year(static_cast<float>(series.time.front()));
      series.iyrn = truncated_year(static_cast<float>(series.time.back()));
    }
    table.series.push_back(std::move(series));
  }
  return true;
}

}  // namespace quorvane::input

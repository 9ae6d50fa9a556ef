// Reading a whole series file from answers given in advance, and preparing
// one series of the table for analysis. The dialogue asks its questions and
// then calls these; the command line calls them with its options.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/memory.h"
#include "common/status.h"

#include "input/series_table.h"
#include "textio/console.h"
#include "textio/line_reader.h"

namespace quorvane::input {

// The answers the input dialogue asks for, by layout. Members that a layout
// does not use are ignored.
struct ReadOptions {
  int iform = 0;          // layout 1..7 (raw ring widths .. row-wise)
  int lskip = 0;          // lines to skip at the top (layouts 4 to 7)
  int ncol = 0;           // multiple columns: columns including X; row-wise: columns to read
  std::string sentinel;   // multiple columns: marker of a missing cell ("*" for asterisks)
  int nvar = 12;          // monthly: values per line
  float mult = 1.0f;      // monthly: multiplier
  std::string rfmt;       // row-wise: the record layout, in parentheses
};

// Whether the memory of this machine can hold the reading of file `path`:
// its text, and its values at their densest (four bytes for every two
// characters). A refusal names the memory the reading would need. A file
// whose size cannot be learnt is left to the reading to report. `available`
// is the memory to judge against (by default, what the system says).
Status check_reading_memory(const std::string& path,
                            std::optional<std::uint64_t> available = available_memory());

// Reads every series of file `path` in the layout and with the answers of
// `options`, replacing `table`. The lines a reader writes while reading
// (echoed text lines, messages naming a bad line) go to `messages`; nothing
// is read from it. Returns true when the file was read and holds at least one
// series; otherwise false with `error` saying why (the file cannot be
// opened or is too large for the memory, a reader failed, no series), and
// `table` as it was.
bool read_series_file(const std::string& path, const ReadOptions& options, SeriesTable& table,
                      textio::Console& messages, std::string& error);

// The same on a file already open (or lines given in memory): reads from its
// current line to its end.
bool read_series(textio::LineReader& file, const ReadOptions& options, SeriesTable& table,
                 textio::Console& messages, std::string& error);

// One series of the table, ready for analysis.
struct ChosenSeries {
  std::string title;        // the series name (8 characters, blank-padded)
  std::vector<float> y;     // the values
  float dt = 0.0f;          // mean time step of the time axis
  std::vector<float> time;  // the time of each value, in the series' own units
};

// The time axis of a series of `table`: consecutive years from its first
// year, the file's x values for two columns, year + (m-1)/nvar for monthly
// rows.
std::vector<float> time_axis(const SeriesTable& table, const Series& series);

// Mean spacing of x, summed in single precision from 0 (0 for fewer than two
// values): the single-precision sum is what fixes the rounding of dt.
float mean_step(const std::vector<float>& x);

// Prepares series `index` (0-based) of `table`: its values, time axis and
// mean time step. False with `error` when it cannot be analysed (fewer than
// two values, a time step that is not positive and finite); `out` is then
// unspecified.
bool choose_series(const SeriesTable& table, std::size_t index, ChosenSeries& out,
                   std::string& error);

}  // namespace quorvane::input

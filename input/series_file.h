// Reading a whole series file from answers given in advance, and preparing
// one series of the table for analysis. The dialogue asks its questions and
// then calls these; the command line calls them with its options.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/memory.h"
#include "common/status.h"

#include "input/series_table.h"
#include "spectral/sampling.h"
#include "textio/console.h"
#include "textio/line_reader.h"

namespace quorvane::input {

// The answers the input dialogue asks for, by layout. Members that a layout
// does not use are ignored.
struct ReadOptions {
  int iform = 0;          // layout 1..8 (raw ring widths .. row-wise, csv)
  int lskip = 0;          // lines to skip at the top (layouts 4 to 8)
  int ncol = 0;           // multiple columns: columns including X; row-wise: columns to read
  std::string sentinel;   // multiple columns: marker of a missing cell ("*" for asterisks)
  int nvar = 12;          // monthly: values per line
  float mult = 1.0f;      // monthly: multiplier
  std::string rfmt;       // row-wise: the record layout, in parentheses
  std::string time_column;                 // csv: the time column's name (empty: the first)
  std::vector<std::string> value_columns;  // csv: the series' columns (empty: every numeric one)
  // Asked every 65536 lines of read_series_file; when it returns true the
  // reading stops and is refused as interrupted. Empty: never.
  std::function<bool()> cancelled;
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
// (echoed text lines, messages naming a bad line) go to `messages`.
// Succeeds when the file was read and holds at least one series; otherwise
// refuses with the reason (the file cannot be opened or is too large for
// the memory, a reader failed, no series, the reading was interrupted),
// leaving `table` as it was.
Status read_series_file(const std::string& path, const ReadOptions& options, SeriesTable& table,
                        textio::Writer& messages);

// The same on a file already open (or lines given in memory): reads from its
// current line to its end.
Status read_series(textio::LineReader& file, const ReadOptions& options, SeriesTable& table,
                   textio::Writer& messages);

// One series of the table, ready for analysis, in increasing time order.
struct ChosenSeries {
  std::string title;         // the series name (8 characters, blank-padded)
  std::vector<float> y;      // the values
  std::vector<double> time;  // the time of each value, in the series' own units
  // The time axis in single precision as the layouts have always given it
  // (the monthly fractions summed in single precision, every other time
  // rounded to single precision), when single precision tells every time
  // apart; empty otherwise. Results of an evenly spaced series show these
  // times, so that they stay what they have always been.
  std::vector<float> time_single;
  // The mean time step: of time_single, summed in single precision from 0
  // (which fixes the rounding of the step of an evenly spaced analysis), or
  // of the double times when time_single is empty. A series with gaps or
  // uneven steps is analysed at sampling.median_step instead.
  float dt = 0.0f;
  spectral::Sampling sampling;  // decided once, from the double times
};

// Prepares series `index` (0-based) of `table`: its values and times in
// increasing order (times that decrease throughout are reversed, the values
// with them, and sampling.reversed is set), its sampling class and time
// steps. Refused when it cannot be analysed: fewer than two
// values; times that repeat or go back and forth (the message names the
// line of the first offending time, its time and the time before it, and
// that one's line); a time step that is not positive and finite. `out` is
// then unspecified.
Status choose_series(const SeriesTable& table, std::size_t index, ChosenSeries& out);

// The times of a series of `table` in file order: the file's own times (two
// columns, csv), else those that follow from its first year as single
// precision has always given them (consecutive years, or the monthly
// fractions summed in single precision), widened to double, so that a
// series handed back to prepare_series is analysed as choose_series
// analyses it.
std::vector<double> series_times(const SeriesTable& table, const Series& series);

// Prepares a series given by its name, values and times (one time per
// value, in double precision) as choose_series prepares one of a file:
// increasing order, sampling class, time steps. Refusals are those of
// choose_series, and times and values of different lengths; a disorder of
// the times is named by the 1-based positions of the two values. `out` is
// unspecified on refusal. `known`, when given, is the sampling of these very
// times from an earlier call (as out.sampling gave it), taken instead of
// classifying them again: the classification is the costly step of a short
// series, and many series of a grid share their times.
Status prepare_series(const std::string& name, std::vector<float> values,
                      std::vector<double> time, ChosenSeries& out,
                      const spectral::Sampling* known = nullptr);

}  // namespace quorvane::input

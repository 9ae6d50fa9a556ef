// The readers of the input layouts. Each takes the console (for its
// questions and messages) and the file, already open; none of them opens or
// closes the file.
//
// Every reader that asks questions is split in two: the dialogue reader asks
// them (rd2col, rdmcol, rdmet, rdrows) and then calls a reading function
// that takes the answers as arguments and only writes messages: it takes a
// textio::Writer, which has no questions to ask. The reading functions are
// what read_series_file calls.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "input/series_table.h"
#include "textio/console.h"
#include "textio/layout.h"
#include "textio/line_reader.h"

namespace quorvane::input {

// Why a tree-ring reading cannot go on. The dialogue ends the program on
// these (stop_reading); read_series_file returns false with describe()'s text.
enum class ReadStop { None, TooManyTextLines, UnreadableDecadeLine };

// Writes the stop message of `stop` (not None) to the error stream and stops
// the program: "sbr trrw:  over 25 text lines", or " Error reading data" and
// " Program terminating".
[[noreturn]] void stop_reading(textio::Console& console, ReadStop stop);

// A sentence saying why the reading stopped, `line` being the number of
// lines read from the file.
std::string describe(ReadStop stop, std::size_t line);

// Column and block readers (codes 3-7). Each fills `table.series` from the
// whole file (replacing what was there) and returns lok: true when the file
// was read, false after a message when it could not be (the caller then
// reports a failed reading). A result of true may still hold no series.
//
// rd1col: blocks of a name line, a first-year line and one value per line;
// it asks nothing, so it only writes.
bool rd1col(textio::Writer& console, textio::LineReader& file, SeriesTable& table);
// rd2col: blocks of a header line and x/y pairs; asks for the lines to skip.
bool rd2col(textio::Console& console, textio::LineReader& file, SeriesTable& table);
// rdmcol: an X column and data columns with a sentinel for missing cells;
// asks for the lines to skip, the column count and the sentinel. Only the
// data columns become series.
bool rdmcol(textio::Console& console, textio::LineReader& file, SeriesTable& table);
// rdmet: monthly climate blocks, one series per block; asks for the lines to
// skip, the values per row (also stored in table.nvar) and a multiplier. A
// value that the multiplier takes beyond single precision is reported with
// its line and gives false.
bool rdmet(textio::Console& console, textio::LineReader& file, SeriesTable& table);
// rdrows: rows read with a record layout typed by the user, one series per
// value position, running through all blocks. A malformed layout, a column
// that begins past the end of every line, or rows that would give more
// values than the file has characters are reported and give false.
bool rdrows(textio::Console& console, textio::LineReader& file, SeriesTable& table);

// The reading functions behind the dialogue readers, from the file's current
// line (the lines to skip are already skipped). Same results as above.
// read_two_columns also adds to table.notes a sentence for each block that
// ends at a line beginning with a number (a time that is NaN, infinite or
// beyond single precision, or a time without a readable value): the line
// and its text, where the series before it ends, and the name of the series
// the layout starts there; beyond 10 such lines, only their count.
bool read_two_columns(textio::Writer& messages, textio::LineReader& file, SeriesTable& table);
// ncol counts the X column; a count below 2 is refused with a message.
bool read_multiple_columns(textio::Writer& messages, textio::LineReader& file, long long ncol,
                           const std::string& sentinel, SeriesTable& table);
// nvar below 1 is refused with a message.
bool read_monthly(textio::Writer& messages, textio::LineReader& file, long long nvar, float mult,
                  SeriesTable& table);
// csv (code 8, for the command line and the library; the dialogue's format
// menu offers codes 1-7): a header row naming the columns, then one row per
// time, the cells separated by commas, semicolons or tabs (whichever the
// header line holds most of, outside double quotes), a cell in double quotes
// taken as it stands. The time is the column named `time_column`, else the
// first (a first column without a name, the row index R and pandas write,
// is passed over). The series are the columns named in `value_columns`, in
// that order, else every other column whose first cell that is not missing
// is a number (one out of range, such as inf or 1e39, included), named by
// its header (blank-padded to at least 8 characters; beyond 1000 bytes cut
// there, with "..."). The columns passed over (text, or no value at all)
// are listed in table.skipped_columns with the reason. Empty cells, NA and NaN (any letter case) and cells left out
// at the end of a row are missing: a missing value is a sample missing at
// its row's time. With semicolons, a decimal comma reads as a point.
// Refused with a message naming the line and column: a cell of the time
// column or of a series that is neither a number within single precision
// nor missing, a missing time
// beside a value, a row of more cells than the header; and a name of the
// options that no column has.
bool read_csv(textio::Writer& messages, textio::LineReader& file, const std::string& time_column,
              const std::vector<std::string>& value_columns, SeriesTable& table);
// `layout` has passed usable_row_layout; ncol below 1 reads no series.
bool read_rows(textio::Writer& messages, textio::LineReader& file,
               const textio::RecordLayout& layout, long long ncol, SeriesTable& table);

// Checks the answers of the dialogue readers before any reading; each says
// what is wrong on the console and returns false when they cannot be used.
bool usable_column_count(textio::Writer& messages, long long ncol);
bool usable_values_per_line(textio::Writer& messages, long long nvar);
// Parses `rfmt` into `layout` and checks that it can read the rows: the year
// first, as an integer, and numbers only.
bool usable_row_layout(textio::Writer& messages, const std::string& rfmt,
                       textio::RecordLayout& layout);

// One raw ring-width series as `trrw` returns it.
struct RingSeries {
  std::string id;       // 8 characters
  int first_year = 0;
  int count = 0;        // values read; -999 when no series was found
  std::vector<float> values;  // ring widths in millimetres, count of them
  std::string title;    // the first text line met in the call (empty if none)
};

// trrw (mode "mr"): reads the next series of a raw ring-width file in decade
// layout, or in the self-describing layout (via datar). `status` is 0 before
// the first call on a file, grows by 1 with every call, and becomes -999 when
// the end of the file is met (the series then has count -999). Text lines are
// echoed to the console; more than 25 of them in one call stop the program
// with "sbr trrw:  over 25 text lines" (textio::ProgramStop).
void trrw(textio::Console& console, textio::LineReader& file, RingSeries& series, int& status);
// trrw without the stop: where trrw would stop the program, sets `stop`,
// gives the series count -999 and status -999, and returns.
void next_ring_series(textio::Writer& messages, textio::LineReader& file, RingSeries& series,
                      int& status, ReadStop& stop);

// datar: one series in the self-describing layout: a header line giving the
// count in columns 3-10, the first year in columns 13-20 and an 8-character
// record layout from column 23, then the values read with that layout.
// Lines before the header are copied into `text` (unless they begin with
// "n" and two blanks). count is -999 when the file ends before a header or
// the header cannot be used (a malformed layout, a count beyond what the rest
// of the file can hold; both reported), and
// the number of values actually read when the values end early or fail to
// read (after a message).
void datar(textio::Writer& console, textio::LineReader& file, std::string& text, int& count,
           std::vector<float>& values, int& first_year);

// aindx: reads one chronology series of `nhead` heading lines and decade
// lines into `slot` (name, first year, values) and its sample counts.
// Returns true when the series' first decade line was read (the slot holds a
// series). Sets lok when the end of the file was met, clears it when the
// series ended with its end pair. An unreadable decade line stops the program
// with " Error reading data" / " Program terminating".
bool aindx(textio::Console& console, textio::LineReader& file, Series& slot,
           std::vector<int>& sample_counts, int nhead, bool& lok);
// aindx without the stop: where aindx would stop the program, sets `stop` and
// lok and returns false. It writes no messages.
bool next_chronology(textio::LineReader& file, Series& slot, std::vector<int>& sample_counts,
                     int nhead, bool& lok, ReadStop& stop);

// Whole tree-ring files, one call of the readers above per series until the
// end of the file or a stop (then `stop` is set). Raw ring widths list every
// series on `messages` as it is read and return whether any series was found.
bool read_raw_ring_widths(textio::Writer& messages, textio::LineReader& file, SeriesTable& table,
                          ReadStop& stop);
void read_chronologies(textio::LineReader& file, SeriesTable& table, ReadStop& stop);

}  // namespace quorvane::input

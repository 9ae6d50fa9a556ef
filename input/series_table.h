// The table of every series read from one input file, filled by the readers
// and kept by SeriesInput between calls of `setup`, so that another series of
// the same file can be chosen without reading the file again.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace quorvane::input {

// The file line of each value of a series, kept compactly: value i stands
// on the line of the last break at or before it plus the values since that
// break, so a file with one value per line needs a single break, and only
// values that skip lines (a missing cell, a row continued on the next line)
// add one.
class ValueLines {
 public:
  // Records that value `value` (the next one: values are added in order)
  // stands on 1-based line `line`.
  void add(std::size_t value, std::size_t line);
  // The line of value `value`; 0 when no value was added.
  std::size_t line(std::size_t value) const;

 private:
  std::vector<std::pair<std::size_t, std::size_t>> breaks_;  // (value, line)
  std::size_t last_value_ = 0, last_line_ = 0;
};

// One series of the file.
struct Series {
  std::string name;      // blank-padded to 8 characters (any length for csv); shown in menus
  int iyr1 = 0;          // first year (x of the first value)
  int iyrn = 0;          // last year
  std::vector<float> values;  // nval = values.size()
  // Two-column files only: the x column's header.
  std::string x_name;
  // Layouts whose times come from the file (two and multiple columns,
  // csv): the time of each value as read, in file order, with the file line
  // of each; empty for the layouts whose times follow from the first year.
  std::vector<double> time = {};
  ValueLines lines = {};
};

// A column of a csv file that gave no series, and why.
struct SkippedColumn {
  std::string name;
  std::string reason;  // a sentence fragment: "text ('Paris' on line 2)"
};

struct SeriesTable {
  int iform = 0;  // input format code of the last successful reading, 1-8
  int nvar = 0;   // values per row of the monthly format: the monthly time axis
  std::vector<Series> series;
  // What a successful reading passed over or decided on its own, which the
  // user must hear beside the results: columns that gave no series, and
  // sentences on lines that ended a block of values early.
  std::vector<SkippedColumn> skipped_columns;
  std::vector<std::string> notes;
};

// The first 8 characters of `text`, blank-padded to 8.
std::string name8(const std::string& text);

// A generated series name: `base` (8 characters, such as "Cell____") with
// `number` written right-aligned into its last characters ("Cell___3",
// "Col___12"); a number wider than the base keeps only its digits.
std::string numbered_name(const std::string& base, int number);

}  // namespace quorvane::input

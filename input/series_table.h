// The table of every series read from one input file, filled by the readers
// and kept by SeriesInput between calls of `setup`, so that another series of
// the same file can be chosen without reading the file again.
#pragma once

#include <string>
#include <vector>

namespace quorvane::input {

// One series of the file.
struct Series {
  std::string name;      // 8 characters, blank-padded; shown in the selection menu
  int iyr1 = 0;          // first year (x of the first value)
  int iyrn = 0;          // last year
  std::vector<float> values;  // nval = values.size()
  // Two-column files only: the x column's header and its values as read.
  std::string x_name;
  std::vector<float> x;
};

struct SeriesTable {
  int iform = 0;  // input format code of the last successful reading, 1-7
  int nvar = 0;   // values per row of the monthly format: the monthly time axis
  std::vector<Series> series;
};

// The first 8 characters of `text`, blank-padded to 8.
std::string name8(const std::string& text);

// A generated series name: `base` (8 characters, such as "Cell____") with
// `number` written right-aligned into its last characters ("Cell___3",
// "Col___12"); a number wider than the base keeps only its digits.
std::string numbered_name(const std::string& base, int number);

}  // namespace quorvane::input

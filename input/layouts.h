// The input layouts by name, and the answers each one takes, given as named
// options: the command line's --layout and the library's read().
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "common/status.h"
#include "input/series_file.h"

namespace quorvane::input {

// The names of the input layouts, by code 1..8: rwl, crn, single, two,
// multi, monthly, rows, csv.
const std::vector<std::string>& layout_names();

// The code 1..8 of layout `name` (a name of layout_names or the code
// itself as text, "3"); 0 for anything else.
int layout_code(std::string_view name);

// The reader's answers for layout `layout` (a name or code as layout_code
// takes) from named options, each given as text: skip (lines above the
// data; two, multi, monthly, rows, csv), per_line (monthly, default 12),
// multiplier (monthly, default 1), sentinel (multi, default *),
// record_layout (rows, required), columns (multi, including the X
// column, and rows: both required), time_column (csv: the time column's
// header, default the first column) and value_columns (csv: headers
// separated by commas, default every numeric column). Refuses an unknown layout or option, an
// option the layout does not take, a value that is not a number of the
// option's kind or lies outside its range, and a missing required option;
// the message names the option and what is accepted. On refusal `out` is
// unspecified.
Status read_options(std::string_view layout, const std::map<std::string, std::string>& options,
                    ReadOptions& out);

}  // namespace quorvane::input

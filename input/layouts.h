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

}  // namespace quorvane::input

// A time series, and the reading of every series of a file in one of the
// program's input layouts.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "quorvane/status.h"

namespace quorvane {

// One series: its name, the time of each value (in the series' own units,
// such as years) and the values. times and values have the same length.
struct Series {
  std::string name;
  std::vector<double> times;
  std::vector<float> values;
};

// The answers a layout takes, by name, each as text: "skip" (lines above the
// data; layouts two, multi, monthly, rows), "per_line" (monthly, default
// 12), "multiplier" (monthly, default 1), "sentinel" (multi, default *),
// "record_layout" (rows) and "columns" (multi, including the X column, and
// rows). Layouts added later take their options by the same means.
using LayoutOptions = std::map<std::string, std::string>;

// Reads every series of file `path` in layout `layout` (rwl, crn, single,
// two, multi, monthly, rows, or the code 1..7 of the dialogue's format menu)
// with `options`, as `quorvane analyse --layout` does. Series come in the
// order of the file, names without trailing blanks; a series with fewer than
// two values is returned too (the spectrum refuses it). Refused: an unknown
// layout or option, an option the layout does not take or a bad value (the
// message names it), a file that cannot be read or holds no series in that
// layout, a file too large for the memory of the machine.
Result<std::vector<Series>> read(const std::string& path, const std::string& layout,
                                 const LayoutOptions& options = {});

}  // namespace quorvane

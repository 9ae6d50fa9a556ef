// summary.json: one record of a command-line run, from the program version
// and the input through the settings to every series' results and files.
#pragma once

#include <string>
#include <vector>

#include "cli/options.h"
#include "cli/series_run.h"

namespace quorvane::cli {

// The summary text (JSON, two-space indented, keys in a fixed order) of a
// run with `options` over `results`, in the order of the series chosen.
// Numbers are written in their shortest exact form; infinities and NaNs,
// which JSON cannot hold, as null; bytes of names that are not UTF-8 as
// U+FFFD. Holds nothing that depends on --jobs,
// so the text is the same for any number of jobs.
std::string summary_text(const Options& options, const std::vector<SeriesResult>& results);

}  // namespace quorvane::cli

// Reading a whole series file without a dialogue: the command line's and
// the library's read().
#pragma once

#include <string>

#include "api/options.h"
#include "input/series_file.h"
#include "input/series_table.h"

namespace quorvane::api {

// Reads every series of file `path` with the answers of `options` into
// `table`. Refused with the reason: no such file or not a file, or the
// reader's failure after "cannot read PATH as <layout>: " (the layout named
// in the style of `naming`), followed by the lines the reader wrote. The
// series of the monthly and row-wise layouts, which no header names, are
// named after the file: its name without the extension, with "_1", "_2",
// ... when it holds several.
Status read_file(const std::string& path, const input::ReadOptions& options, Naming naming,
                 input::SeriesTable& table);

}  // namespace quorvane::api

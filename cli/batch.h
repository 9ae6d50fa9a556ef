// `quorvane analyse`: every chosen series of one file analysed without
// questions, in parallel, into CSV files and one summary.json.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "cli/command_frame.h"
#include "cli/options.h"
#include "input/series_table.h"

namespace quorvane::cli {

struct SeriesResult;

// Runs the command line given by `args` (the arguments after the program
// name): --help, --version, analyse, evolve or coherence (see
// cli/evolve_command.h and cli/coherence_command.h). Results go to files; `out` gets help,
// the version and, unless --quiet, one line per series; `err` gets the
// errors and, when it is a terminal, a progress line. Returns the exit
// status: 0 when every chosen series was analysed, 1 when some failed (the
// others' files are still written), 2 for a usage error (nothing written),
// 128 + the signal's number when SIGINT or SIGTERM stopped the run (see
// cli/interrupt.h; the files already complete stay, no summary is written).
int run_command_line(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// Runs an analysis with parsed options; as run_command_line.
int run_analyse(Options options, std::ostream& out, std::ostream& err);

// The file lines of the first and last value of series `index` of `table`
// into `result`, when its layout keeps them.
void set_lines(const input::SeriesTable& table, std::size_t index, SeriesResult& result);

}  // namespace quorvane::cli

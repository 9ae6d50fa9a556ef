// `quorvane evolve`: the evolutive spectrum of every chosen series of one
// file: the multitaper spectrum, F-test and background of a window moving
// along the record, written as matrices (one row per window, one column
// per frequency), the line tracks over time, a summary.json and, when
// asked, a heat map.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "cli/options.h"
#include "spectral/sampling.h"

namespace quorvane::cli {

// Parses the arguments after "evolve", as parse_command_line does for
// analyse (help to `out`, a usage error to `err`): the options evolve
// shares with analyse (the input, the analysis settings, the refinements of
// the estimate, --out, --plots, --jobs as threads that share the windows,
// --quiet) and the window (options.windows).
ParseOutcome parse_evolve(const std::vector<std::string>& args, Options& options,
                          std::ostream& out, std::ostream& err,
                          const api::Vocabulary& table = api::vocabulary());

// Runs `quorvane evolve` with the arguments after "evolve". For every
// chosen series, <stem>.evolutive-power.csv, <stem>.evolutive-F.csv and
// <stem>.evolutive-ratio.csv (header time,<f1>,<f2>,...; a row per window,
// its centre time first), <stem>.tracks.csv (every F maximum above the
// --reshape level in every window) and, with --plots, the heat map
// <stem>.evolutive.<ext>; then summary.json. Each file is written as the
// rows come, under a temporary name, and appears only when complete. The
// exit status is that of analyse: 0 every series done, 1 some failed (the
// others' files are written), 2 a usage error (nothing written).
int run_evolve(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace quorvane::cli

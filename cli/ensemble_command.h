// `quorvane ensemble`: the spectrum of every chosen series of one file
// under the uncertainty of its age model: analysed on every chronology of
// an age ensemble (read from a file, or generated from a layer count or
// from tie points), summarised per frequency by the quantiles of the
// estimate and the fractions of members in which it is significant, and
// per line by the fraction of members in which the F-test finds it.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "cli/options.h"

namespace quorvane::cli {

// Parses the arguments after "ensemble", as parse_command_line does for
// analyse: the input, the analysis settings, the age model, --out,
// --format, --plots, --jobs as threads that share the members, --quiet.
// Exactly one of --ensemble and --age-model must be given; tiepoints needs
// --tiepoints.
ParseOutcome parse_ensemble(const std::vector<std::string>& args, Options& options,
                            std::ostream& out, std::ostream& err,
                            const api::Vocabulary& table = api::vocabulary());

// Runs `quorvane ensemble` with the arguments after "ensemble". For every
// chosen series, <stem>.ensemble.csv (frequency, period, the 2.5, 25, 50,
// 75 and 97.5 % quantiles of the estimate, the median background, the
// fractions of members above their 90, 95 and 99 % levels and with F above
// its 95 and 99 % levels), or <stem>.ensemble.nc with --format netcdf (and
// every member's spectrum with --members-out), <stem>.ensemble-peaks.csv
// and, with --plots, <stem>.ensemble.<ext>; then summary.json. Exit status
// as analyse's.
int run_ensemble_command(const std::vector<std::string>& args, std::ostream& out,
                         std::ostream& err);

}  // namespace quorvane::cli

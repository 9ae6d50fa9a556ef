// `quorvane coherence`: the multitaper cross-spectrum of two records, two
// series of one file or one series of each of two files, on the span of
// times they share: coherence, phase and gain with their intervals and the
// coherence levels, as one CSV file, a summary.json and, when asked, a plot.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "cli/options.h"

namespace quorvane::cli {

// Parses the arguments after "coherence", as parse_command_line does for
// analyse (help to `out`, a usage error to `err`).
// FILE_A and its layout are options.input, FILE_B (file empty: both series
// from FILE_A) and its layout options options.pair.second, each one left
// out taking FILE_A's.
ParseOutcome parse_coherence(const std::vector<std::string>& args, Options& options,
                             std::ostream& out, std::ostream& err,
                             const api::Vocabulary& table = api::vocabulary());

// Runs `quorvane coherence` with the arguments after "coherence": writes
// <A>__<B>.coherence.csv (a row per frequency of the band), the plot
// <A>__<B>.coherence.<ext> with --plots, and summary.json, each under a
// temporary name until complete. The exit status is 0 when the pair was
// analysed, 1 when it cannot be (the summary says why), 2 for a usage
// error (nothing written).
int run_coherence(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace quorvane::cli

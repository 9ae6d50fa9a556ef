// `quorvane coherence`: the multitaper cross-spectrum of two records, two
// series of one file or one series of each of two files, on the span of
// times they share: coherence, phase and gain with their intervals and the
// coherence levels, as one CSV file, a summary.json and, when asked, a plot.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/options.h"

namespace quorvane::cli {

struct CoherenceOptions {
  InputOptions a;  // FILE_A and its layout
  // FILE_B (empty: both series from FILE_A) and its layout options; each
  // one left out takes FILE_A's.
  InputOptions b;
  std::string series_a, series_b;  // a 1-based number or a name; empty: the default
  std::optional<int> tapers, resolution;
  std::optional<std::pair<float, float>> band;
  int pad = 1;
  bool adaptive = false;
  bool exact_concentrations = false;
  std::optional<bool> montecarlo;  // --significance, when given
  int surrogates = 1000;
  std::uint64_t seed = 1;
  bool surrogates_given = false, seed_given = false;
  OutputOptions output;
};

// Parses the arguments after "coherence", as parse_command_line does for
// analyse (help to `out`, a usage error to `err`).
ParseOutcome parse_coherence(const std::vector<std::string>& args, CoherenceOptions& options,
                             std::ostream& out, std::ostream& err);

// Runs `quorvane coherence` with the arguments after "coherence": writes
// <A>__<B>.coherence.csv (a row per frequency of the band), the plot
// <A>__<B>.coherence.<ext> with --plots, and summary.json, each under a
// temporary name until complete. The exit status is 0 when the pair was
// analysed, 1 when it cannot be (the summary says why), 2 for a usage
// error (nothing written).
int run_coherence(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace quorvane::cli

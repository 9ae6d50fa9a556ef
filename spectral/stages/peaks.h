// The list of significant peaks of a spectrum run.
#pragma once

#include <vector>

#include "spectral/settings.h"

namespace quorvane::spectral {

// The list of significant peaks: at most max_peaks entries, ordered by
// frequency (entry i at results.f0 + i * df); sigpct holds 99, 95 or 90.
// Entries are judged by the raw spectrum over its background (not Signal::harmonic;
// a zero background gives ratio 0) against conf, or against the entry's
// montecarlo_conf when the results hold Monte Carlo levels, or by the F
// statistic (Signal::harmonic) against fconf, in windows of nbw entries either
// side; a window's maximum on a rising flank climbs to the flank's top, and
// one below a higher maximum within nbw entries that no listed peak covers
// yet moves on to it, so that every peak listed is a local maximum of its
// ratio and no line's maximum is hidden by the entries flagged around it;
// of all candidates, the max_peaks with the largest ratios are kept
// (equal ratios in the order found). max_peaks below 1 gives no peaks.
struct PeakList {
  std::vector<float> sigfreq;
  std::vector<float> sigpct;
};
constexpr int kDefaultMaxPeaks = 40;
PeakList findpeaks(Signal signal, const SpecResults& results, int max_peaks = kDefaultMaxPeaks);

}  // namespace quorvane::spectral

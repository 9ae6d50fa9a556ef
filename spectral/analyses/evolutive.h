// Evolutive spectra: the multitaper spectrum, the harmonic F-test and the
// background of every window of a record, the window moving along the
// record by a fixed step: the evolutive harmonic analysis of Meyers,
// Sageman and Hinnov (2001), J. Sediment. Res. 71, 628-644, on the
// multitaper spectrum and F-test of Thomson (1982), Proc. IEEE 70, for
// cycles that appear, fade or drift through a record.
#pragma once

#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "common/status.h"
#include "spectral/estimators/even.h"

namespace quorvane::spectral {

// One local maximum of the F statistic above the chosen level.
struct EvolutiveLine {
  int entry = 0;          // band entry (0-based): frequency f0 + entry * df
  float frequency = 0.0f;
  float f = 0.0f;               // the F statistic
  float f_significance = 0.0f;  // percent: P(F(2, 2K-2) <= f) * 100
  float ratio = 0.0f;           // raw spectrum over background (0 where that is 0)
  float significance = 0.0f;    // percent: P(chi2(2K) <= 2K ratio) * 100
};

// What one window gives. Valid only during the call that delivers it.
struct EvolutiveRow {
  std::size_t window = 0;  // 0-based window number
  std::size_t start = 0;   // index of the window's first value
  double centre = 0.0;     // start + (length - 1) / 2: the window's centre, in values
  // The whole run on the window's values, exactly as spec gives it for those
  // values alone: specraw0 is the spectrum, ftest the F statistic, and each
  // array holds nf entries, of which the first nf - 1 are the band.
  const SpecResults* spectrum = nullptr;
  std::span<const float> ratio;      // specraw0 / specback0, nf - 1 entries (0 where specback0 is 0)
  std::vector<EvolutiveLine> lines;  // by frequency
  std::vector<std::string> notes;    // the engine's diagnostic lines for this window
};

// Receives the rows in window order, one call at a time (never two at once,
// whatever the number of jobs). A refusal stops the run: no further row is
// delivered and evolutive_spectrum returns it.
using EvolutiveSink = std::function<Status(const EvolutiveRow& row)>;

// The number of windows of `length` values, `step` values apart, that fit
// in a record of n values (the last ones that would run past its end are
// dropped): (n - length) / step + 1, or 0 when length > n, length < 1 or
// step < 1.
std::size_t evolutive_window_count(std::size_t n, int length, int step);

// The F-test maxima of one run: every entry of the band whose F statistic
// is a local maximum (above the entry below it and not below the entry
// above it; the band ends compare with their one neighbour) and strictly
// above the F level of settings.isiglev (fconf), with its significance.
// None with one taper, which has no F-test.
std::vector<EvolutiveLine> f_test_maxima(const SpecSettings& settings, const SpecResults& results);

// Runs spec on every window y[start .. start + length - 1], start = 0,
// step, 2 step, ..., with `settings` (whose npts must be `length`; its
// Monte Carlo levels and jackknife must be off), and delivers each window's
// row to `deliver` in window order. The tapers of the window length are
// computed once and shared by `jobs` threads (the caller's included), each
// of which holds at most one row beyond the one being delivered; the rows
// are the same for any number of jobs.
// Refused before any row: a length below 2K or above y.size(), a step below
// 1, jobs below 1, settings that check_spec refuses or whose npts is not
// length, Monte Carlo levels or the jackknife (each window would need its
// own surrogates). A window that spec refuses (a value that is not finite,
// memory running out) ends the run after the rows before it, with that
// refusal naming the window. Messages begin with a blank, like spec's.
Status evolutive_spectrum(std::span<const float> y, int length, int step,
                          const SpecSettings& settings, int jobs, const EvolutiveSink& deliver);

}  // namespace quorvane::spectral

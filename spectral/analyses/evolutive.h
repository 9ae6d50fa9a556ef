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
#include "spectral/sampling.h"

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

// How a window of a record on its own times was analysed: by the evenly
// spaced engine (every step of the window holds one sample on its grid), by
// the missing-data estimator (samples on the grid, some steps empty), by the
// multitaper Lomb-Scargle estimate (samples off the grid), or not at all
// (too few samples or too much of the span missing).
enum class WindowMethod { even, gaps, uneven, empty };

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
  // Set by evolutive_on_times only (evolutive_spectrum leaves them as they
  // are): the method, the samples the window holds, why it was left empty
  // (spectrum then null, ratio and lines empty), whether its plan came from
  // an earlier window of the same sampling pattern, and the band every
  // window shares (entries frequencies f0 + i df). Which window of a
  // pattern makes its plan depends on the threads; `pattern` does not: for
  // a window analysed on a plan (gaps or uneven) a 64-bit identity of its
  // sampling pattern, equal for the windows that share a plan (0 for the
  // others), so that counts of patterns are the same for any jobs.
  WindowMethod method = WindowMethod::even;
  std::size_t samples = 0;
  std::string empty;
  bool plan_reused = false;
  std::uint64_t pattern = 0;
  float f0 = 0.0f, df = 0.0f;
  std::size_t entries = 0;
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
// refusal naming the window. Messages are plain text, like spec's.
Status evolutive_spectrum(std::span<const float> y, int length, int step,
                          const SpecSettings& settings, int jobs, const EvolutiveSink& deliver);

// Which methods the windows of evolutive_on_times take: each the one its
// own sampling calls for, or the uneven one for every window.
enum class WindowMethods { by_sampling, all_uneven };

// The windows of a record on its own times (gaps or uneven steps; an evenly
// spaced record too, as a grid with nothing missing). Its span is divided
// into steps ("cells") of dt = settings.dt: on a record on a grid its
// positions (grid_positions on the median step; dt is then the
// span over the last position, as the missing-data spectrum takes it), on an
// uneven record the nearest whole number of steps dt (its median step) from
// the first time.
// Window w covers the `length` cells from w * step (so its duration is
// length dt and every window shares the frequency grid of settings, whose
// npts must be `length`); windows that run past the last
// cell are dropped. Each window is analysed (with `methods` by_sampling, the
// default) by the method its own sampling calls for: even when each of its
// cells holds one sample lying within kStepTolerance steps of the cell's
// grid time (spec, with the tapers of the window computed once), gaps when
// its samples lie so but some cells are empty (GapsPlan on the window's
// cells), uneven otherwise (UnevenPlan on
// the samples' times with the grid span of that frequency grid, so that its
// band is the others', and the grid tapers of the window's duration,
// computed once for all windows). A window with fewer than min_samples samples, or with more than
// half of its cells empty, is delivered empty with its reason rather than
// analysed. Plans are kept for windows whose pattern repeats (the same
// cells, or the same times relative to the first to a millionth of a step),
// so a record whose sampling repeats computes its tapers once per pattern.
// time (increasing, finite, one per value of y) and sampling (sampling_of
// on time) describe the record. Rows are delivered as evolutive_spectrum
// delivers them, the same for any number of jobs.
// With `methods` all_uneven every window that is analysed takes the
// uneven method, even where its samples sit one to a cell on the grid (the
// user's choice of the multitaper Lomb-Scargle analysis for the whole
// record); which windows are left empty does not change.
// Refused before any row: what evolutive_spectrum refuses of length, step,
// jobs and settings, min_samples below settings.nwin + 1, times not one per
// value or not increasing, and a record with fewer cells than one window.
// A window that its estimator refuses ends the run as in
// evolutive_spectrum.
Status evolutive_on_times(std::span<const double> time, std::span<const float> y,
                          const Sampling& sampling, int length, int step, int min_samples,
                          const SpecSettings& settings, int jobs, const EvolutiveSink& deliver,
                          WindowMethods methods = WindowMethods::by_sampling);

}  // namespace quorvane::spectral

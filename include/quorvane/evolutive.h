// The evolutive spectrum of a series: the multitaper spectrum, F-test and
// background of a window moving along it, and the tracks of its lines.
#pragma once

#include <string>
#include <vector>

#include "quorvane/series.h"
#include "quorvane/settings.h"
#include "quorvane/status.h"

namespace quorvane {

// One local maximum of the F statistic above the tracks' level in one
// window: a row of the tracks CSV of `quorvane evolve`.
struct Track {
  double time = 0.0;             // the window's centre time
  float frequency = 0.0f;
  float period = 0.0f;           // 1/frequency
  float F = 0.0f;                // the F statistic
  float F_significance = 0.0f;   // percent
  float ratio = 0.0f;            // estimate over background
  float significance = 0.0f;     // percent, of the ratio under chi-square(2K)
};

// A window of a record with gaps or uneven steps left without a spectrum.
struct EmptyWindow {
  std::size_t window = 0;   // 0-based
  double time = 0.0;        // its centre time
  std::size_t samples = 0;  // the samples it holds
  std::string reason;       // too few samples, or more than half its steps empty
};

// The matrices of `quorvane evolve`: one row per window, one column per
// frequency of the band, stored row by row (power[w * frequency.size() + i]).
struct Evolutive {
  std::string name;
  std::vector<double> time;       // the centre time of each window
  std::vector<float> frequency;   // the band, the same for every window
  std::vector<float> power;       // the multitaper estimate
  std::vector<float> F;           // the harmonic F statistic
  std::vector<float> ratio;       // estimate over background (0 where that is 0)
  std::vector<Track> tracks;      // by window, then frequency
  int window = 0;                 // values in a window (steps dt with gaps or uneven steps)
  int step = 0;                   // values (steps) between the starts of two windows
  float dt = 0.0f;                // the time step (the median step of uneven times)
  // Records with gaps or uneven steps only: each window's method ("even",
  // "gaps", "uneven" or "empty"), the windows left empty (their rows nan)
  // and the fewest samples a window was analysed with.
  std::vector<std::string> method;
  std::vector<EmptyWindow> empty;
  int min_samples = 0;
  float bandwidth = 0.0f;         // the full bandwidth 2P/(window dt)
  double tracks_level = 0.0;      // percent: the reshape level of the settings (95 by default)
  Settings used;                  // as applied to a window
  // What the preparation of the series said: values analysed as if evenly
  // spaced, interpolated, or a record whose gaps cover most of its span.
  std::vector<std::string> notes;
};

// The evolutive spectrum of `series`: windows of round(window / dt) values
// moving by round(step / dt) values (window and step in the series' time
// units), each analysed exactly as spectrum() analyses those values alone,
// with `settings` (jobs: threads sharing the windows; the results do not
// depend on it). Windows that would run past the end are dropped. A series
// with gaps or uneven steps (analysed on its own times, as settings.sampling
// allows) has windows of round(window / dt) steps of its grid step dt, each
// analysed by the method its own samples call for (even, gaps, uneven;
// every window uneven with settings.sampling uneven) on the frequency grid
// all windows share; a window with fewer than
// min_samples samples (0: 2K + 2, at least 10) or more than
// half its steps empty is left empty (nan rows) and listed. Refused:
// what spectrum() refuses, a window of
// fewer than twice the tapers' values or more than the series holds, a step
// below one value, Monte Carlo levels or the jackknife (each window would
// need its own surrogates). Safe to call from several threads at once.
Result<Evolutive> evolutive(const Series& series, double window, double step,
                            const Settings& settings = {}, int min_samples = 0);

}  // namespace quorvane

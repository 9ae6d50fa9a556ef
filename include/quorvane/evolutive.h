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
  int window = 0;                 // values in a window
  int step = 0;                   // values between the starts of two windows
  float dt = 0.0f;                // the time step
  float bandwidth = 0.0f;         // the full bandwidth 2P/(window dt)
  double tracks_level = 0.0;      // percent: the reshape level of the settings (95 by default)
  Settings used;                  // as applied to a window
};

// The evolutive spectrum of `series`: windows of round(window / dt) values
// moving by round(step / dt) values (window and step in the series' time
// units), each analysed exactly as spectrum() analyses those values alone,
// with `settings` (jobs: threads sharing the windows; the results do not
// depend on it). Windows that would run past the end are dropped. Refused:
// what spectrum() refuses, a series that is not evenly spaced, a window of
// fewer than twice the tapers' values or more than the series holds, a step
// below one value, Monte Carlo levels or the jackknife (each window would
// need its own surrogates). Safe to call from several threads at once.
Result<Evolutive> evolutive(const Series& series, double window, double step,
                            const Settings& settings = {});

}  // namespace quorvane

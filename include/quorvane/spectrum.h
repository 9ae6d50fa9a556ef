// The multitaper spectrum of a series with its F-test, background, levels
// and peaks.
#pragma once

#include <array>
#include <limits>
#include <string>
#include <vector>

#include "quorvane/series.h"
#include "quorvane/settings.h"
#include "quorvane/status.h"

namespace quorvane {

// The confidence levels of the background, and of the F-test, in percent.
inline constexpr std::array<double, 4> kLevelPercents = {50.0, 90.0, 95.0, 99.0};
inline constexpr std::array<double, 6> kFLevelPercents = {50.0, 90.0, 95.0, 99.0, 99.5, 99.9};

// One significant peak.
struct Peak {
  float frequency = 0.0f;
  float period = 0.0f;        // 1/frequency (infinite at frequency 0)
  float significance = 0.0f;  // percent: 99, 95 or 90
  float ratio = 0.0f;         // estimate over background at the peak (0 where that is 0)
  float F = 0.0f;             // harmonic F statistic at the peak
  bool trend = false;         // below the bandwidth: the secular trend
  // With Monte Carlo levels: 99 or 95 when the ratio reaches the band-wide
  // level of that percent (significant for the whole band), else 0.
  float global_significance = 0.0f;
  // The line within the peak's bandwidth, between the transform's bins:
  // the frequency where the F statistic is largest, F there, its
  // significance in percent (F with 2 and 2K - 2 degrees of freedom, for
  // one frequency chosen in advance) and the frequency's standard deviation
  // (the Cramer-Rao bound of a sinusoid in white noise at the local
  // signal-to-noise ratio). NaN with one taper and for uneven steps.
  float line_frequency = std::numeric_limits<float>::quiet_NaN();
  float line_F = std::numeric_limits<float>::quiet_NaN();
  float line_significance = std::numeric_limits<float>::quiet_NaN();
  float line_frequency_sd = std::numeric_limits<float>::quiet_NaN();
};

// How the series was sampled and which analysis its spectrum had: the
// "sampling" object of the summary of `quorvane analyse`.
struct SamplingSummary {
  std::string kind = "even";  // "even", "gaps" or "uneven"
  // "multitaper", "mean_step_multitaper", "missing_data_multitaper",
  // "lomb_scargle_multitaper" or "interpolated_multitaper"
  std::string method = "multitaper";
  double median_step = 0.0;
  long long missing = 0;  // samples missing on the grid of the median step
  bool reversed = false;  // the times decreased throughout
  // A step counts as a whole number of median steps within `tolerance`
  // median steps of it; largest_offset is the largest distance of a step
  // from that number, in median steps, which decided the class.
  double tolerance = 0.0;
  double largest_offset = 0.0;
};

// A spectrum run's results. Every array holds one value per frequency of the
// band, the values of the columns of the same name in the spectrum CSV of
// `quorvane analyse`.
struct Spectrum {
  std::string name;  // the series' name
  std::vector<float> frequency, period;
  std::vector<float> estimate;    // the multitaper spectrum
  std::vector<float> reshaped;    // with the detected lines taken out
  std::vector<float> harmonic;    // the line spectrum
  std::vector<float> median;      // running median of the estimate
  std::vector<float> background;  // the noise background
  std::vector<float> F;           // harmonic F statistic (NaN with one taper)
  // The background's levels at kLevelPercents (chi-square, or Monte Carlo).
  std::array<std::vector<float>, 4> levels;
  std::array<float, 6> F_levels{};  // at kFLevelPercents; NaN with one taper
  // With Monte Carlo levels: the band-wide 95 and 99 % levels (the
  // background times the quantiles of each surrogate's largest ratio over
  // the band); else empty.
  std::array<std::vector<float>, 2> global_levels;
  // With Settings::jackknife: the 95 % interval of the estimate; else empty.
  std::vector<float> jackknife_lower, jackknife_upper;
  float bandwidth = 0.0f;  // the full bandwidth 2P/(N dt)
  float rho = 0.0f;        // lag-one autocorrelation of the red-noise background
  float dt = 0.0f;         // the time step analysed
  int length = 0;          // the number of values
  SamplingSummary sampling;
  std::vector<Peak> peaks;  // ordered by frequency
  Settings settings;        // as given
  // As applied to the series: tapers, smoothing and band filled in, and the
  // locally-white noise of a harmonic analysis.
  Settings used;
  std::vector<std::string> notes;  // diagnostic lines of the run
};

// The spectrum of `series` with `settings`: the analysis of `quorvane
// analyse` with the options of the same names. Refused, with the message
// naming the setting: a value out of its range, settings that contradict
// each other (noise other than local, a background, smoothing or fit with
// Signal::harmonic, ...), fewer than two values, a value that is not a
// finite number, times that repeat or go back and forth, a series the
// engine cannot take (see the messages). Times that decrease throughout are
// analysed in increasing order; times with gaps or uneven steps get the
// analysis Settings::sampling calls for (automatic: the missing-data or the
// Lomb-Scargle multitaper spectrum, as on the command line).
// Safe to call from several threads at once.
Result<Spectrum> spectrum(const Series& series, const Settings& settings = {});

// The peaks of a spectrum by column, named and ordered as the peaks file of
// `quorvane analyse` has them: trend as 1 or 0, global_significance only
// with band-wide (Monte Carlo) levels.
struct PeakColumns {
  std::vector<std::string> names;
  std::vector<std::vector<float>> values;  // one per name, one value per peak
};
PeakColumns peak_columns(const Spectrum& spectrum);

}  // namespace quorvane

// The spectra of a block of series of one length, sampling and settings in
// one call: the tapers solved once, the series shared among threads, and
// the results as flat arrays (one row per series) instead of a Spectrum
// each. Made for grids and 2-D arrays, where the spectra themselves are
// wanted as arrays and each series' strongest line as a map.
//
//   std::vector<float> block(count * length);   // series after series
//   auto spectra = quorvane::batch_spectra(block, count, times, settings, 2);
//   // spectra->estimate[i * spectra->frequency.size() + j]: series i, frequency j
#pragma once

#include <array>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "quorvane/settings.h"
#include "quorvane/status.h"

namespace quorvane {

// A block's results. Arrays by frequency hold count rows of
// frequency.size() values; the maps hold one value per series. A series
// whose values are all NaN (land in an ocean field) is not analysed: NaN
// throughout its rows and maps.
struct BatchSpectra {
  int count = 0;   // the number of series
  int length = 0;  // values per series
  std::vector<float> frequency;  // the band's frequencies, those of spectrum()
  std::vector<float> estimate, background, F;
  std::array<std::vector<float>, 4> levels;  // at kLevelPercents
  // The strongest significant line of each series (the trend excluded):
  // the largest ratio of estimate to background among its peaks (the
  // largest F statistic when the F-test alone judges lines), its frequency
  // and its significance in percent; NaN without a line.
  std::vector<float> peak_frequency, peak_ratio, peak_significance;
  // The chance that noise alone reaches the series' largest ratio of
  // estimate to background (largest F with the F-test alone) anywhere in
  // the band above the trend: that ratio's chi-square chance p at one
  // frequency, 2K degrees of freedom, taken over the band's M independent
  // frequencies as 1 - (1 - p)^M. The ratios are first scaled so that their
  // median over the band is the chi-square median, which takes an error of
  // the background's level out of the p-value.
  std::vector<float> band_p_value;
  float bandwidth = 0.0f;          // the full bandwidth 2P/(N dt)
  float dt = 0.0f;                 // the step analysed
  // M: the width of the band above the trend in Rayleigh frequencies 1/(N dt).
  double independent = 0.0;
  int tapers = 0;                  // K
  std::string method;              // the analysis, as Spectrum::sampling.method
  std::string sampling;            // its class: "even", "gaps" or "uneven"
  Settings used;                   // as applied to the first series analysed
};

// The spectra of `count` series of `values.size() / count` values each,
// series after series, all at `times` (one per value of a series), with
// `settings` on `jobs` threads. Evenly spaced times share one
// SpectrumPlan; times with gaps or uneven steps give each series the
// analysis spectrum() gives it. The results are those of spectrum() for
// each series, bit for bit, whatever the number of threads. Refused:
// what spectrum() refuses for the first series' shape (the message of
// spectrum()), a block not made of count series of times.size() values,
// jobs outside 1..1024, and a series spectrum() refuses (the message begins
// with the series' index from 0). `cancelled` stands for
// Settings::cancelled and is asked between series.
Result<BatchSpectra> batch_spectra(std::span<const float> values, int count,
                                   std::span<const double> times, const Settings& settings = {},
                                   int jobs = 1, const std::function<bool()>& cancelled = {});

// The ratio to the background that noise (chi-square with 2 * tapers
// degrees of freedom over its mean) exceeds anywhere among `independent`
// independent frequencies with chance `alpha`: the band-wide level of the
// chi-square levels. NaN for alpha outside (0, 1), independent below 1 or
// tapers below 1.
double band_wide_ratio(double alpha, double independent, int tapers);

}  // namespace quorvane

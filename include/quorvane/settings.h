// The settings of a spectrum run, by name. Every setting left at its default
// takes the value the dialogue starts from for the series, so that
// Settings{} gives the numbers of the dialogue and of `quorvane analyse`
// without options. The names are those of the command line's options.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "quorvane/status.h"

namespace quorvane {

enum class Noise { red, white, local };        // null hypothesis (local: locally-white)
enum class Background { raw, robust };         // from the raw spectrum or its running median
enum class Fit { linear, log };                // misfit of the red-noise fit
enum class Signal { both, narrowband, harmonic };  // signal assumption
enum class Estimate { adaptive, hires };       // adaptive or high-resolution estimate
// The scale of the estimate, for tapers of N values each with a sum of
// squares N. none: eigencoefficients as transformed, so that the estimate
// of white noise of variance v lies near N v. n: the estimate divided by
// N^2 (eigencoefficients divided by N). dt: the estimate multiplied by dt^2
// (eigencoefficients multiplied by dt). density: the one-sided power
// spectral density, value^2 per unit of frequency, the estimate multiplied
// by 2 dt / N, whose integral from 0 to the Nyquist frequency is the
// variance (Parseval, within the estimator's scatter).
enum class Normalize { none, n, dt, density };
enum class Concentrations { asymptotic, exact };  // taper weights: formula or computed
enum class Significance { chisquare, montecarlo };  // levels of the peaks
// How the times of a series are used. automatic: the method its sampling
// class calls for (evenly spaced: the multitaper spectrum; gaps: the
// missing-data multitaper spectrum; uneven steps: the multitaper
// Lomb-Scargle spectrum). even: the values taken as evenly spaced at the
// mean step whatever their times (what the dialogue does with a two-column
// file). gaps and uneven force those estimators; interpolate: linear
// interpolation to the median step, then the evenly spaced spectrum.
enum class Sampling { automatic, even, gaps, uneven, interpolate };

// A frequency band, in cycles per unit of the series' times.
struct Band {
  double low = 0.0;
  double high = 0.0;
  friend bool operator==(const Band&, const Band&) = default;
};

struct Settings {
  int resolution = 2;  // P, in multiples of the Rayleigh frequency 1/(N dt); 1..1000000
  std::optional<int> tapers;  // K, 1..8; default 2P - 1, at most 8
  Noise noise = Noise::red;   // with Signal::harmonic, locally-white
  Background background = Background::robust;
  // Median smoothing width in frequency, from the bandwidth to half the
  // band; default a fifth of the band, at least the bandwidth.
  std::optional<double> smoothing;
  Fit fit = Fit::log;  // red noise only
  Signal signal = Signal::both;
  Estimate estimate = Estimate::adaptive;
  Normalize normalize = Normalize::none;
  // Reshape at lines detected at this level in percent: 50, 90, 95, 99,
  // 99.5 or 99.9; 0 for no reshaping.
  double reshape = 95.0;
  std::optional<Band> band;  // default 0 to the Nyquist frequency 1/(2 dt)
  int pad = 1;               // transform length factor: 1, 2, 4 or 8
  Concentrations concentrations = Concentrations::asymptotic;
  // The running median divided by the median-to-mean ratio of the estimate
  // before the background is fitted, so that the chi-square levels hold.
  bool median_bias_correction = false;
  Significance significance = Significance::chisquare;
  int surrogates = 1000;   // Monte Carlo only: 1..100000
  std::uint64_t seed = 1;  // Monte Carlo only; the same seed gives the same levels
  int jobs = 1;            // threads sharing the surrogates, 1..1024
  bool jackknife = false;  // 95 % jackknife interval of the estimate (K >= 2)
  int max_peaks = 40;      // most peaks listed, 0..100
  Sampling sampling = Sampling::automatic;
  // Asked from time to time during the work (between its stages, before
  // each taper's transform and each surrogate, from any of its threads);
  // when it returns true the work stops soon after and the call is refused
  // as interrupted. Empty: never.
  std::function<bool()> cancelled;
};

// The settings by name, for bindings that take them as keywords (the Python
// module's spectrum() and coherence()): each one's name, the type of its
// values, its words and what its documentation says.
enum class SettingType {
  integer,  // a whole number (int)
  seed,     // a whole number of 64 bits
  number,   // a real number
  flag,     // true or false
  word,     // one of `words`, in any letter case
  band,     // a Band
  level,    // a level in percent, or the word "off" for 0
};
// A setting's value: none (the default), a whole number, a 64-bit whole
// number, a real number, a flag, a word or a band.
using SettingValue =
    std::variant<std::monostate, long long, std::uint64_t, double, bool, std::string, Band>;
struct SettingName {
  std::string name;
  SettingType type = SettingType::integer;
  std::vector<std::string> words;
  bool coherence = false;  // a setting of coherence() too
};
// Every setting of Settings, in the order of the documentation.
const std::vector<SettingName>& setting_names();
// Sets setting `name` of `settings` to `value` (a word: one of its words in
// any letter case); refused for an unknown name, a value of another type or
// an unknown word. Ranges are checked by the functions that take the settings.
Status set_setting(Settings& settings, std::string_view name, const SettingValue& value);
// The value of setting `name` (none for an unknown name), words in lower case.
SettingValue setting_value(const Settings& settings, std::string_view name);
// The documentation of the settings: "name=default (what it takes)", each
// separated by ", " and wrapped into lines of at most 76 characters that
// begin with two blanks.
std::string settings_doc();

}  // namespace quorvane

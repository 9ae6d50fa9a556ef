// The analysis options of one series as the command line and the public
// functions give them: each setting either given or left to the default the
// dialogue starts from for the series, the checks of settings that
// contradict each other, and their application to a series' defaults in the
// order of the dialogue's menus.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "api/analysis.h"
#include "api/analysis_record.h"

namespace quorvane::api {

// Option codes as in the analysis record; empty: the dialogue's default.
struct AnalysisOptions {
  std::optional<int> resolution;                // p
  std::optional<int> tapers;                    // nwin
  std::optional<int> noise;                     // inoise
  std::optional<int> background;                // irobust
  std::optional<float> smoothing;               // fsmooth
  std::optional<int> fit;                       // ilogfit
  std::optional<int> signal;                    // isignal
  std::optional<int> estimate;                  // iadapt
  std::optional<int> normalize;                 // inorm
  std::optional<int> reshape;                   // isiglev 1..6, or 0 for no reshaping
  std::optional<std::pair<float, float>> band;  // fmin, fmax
  // The analysis of the spectrum: 0 auto (as the sampling calls for), 1 even,
  // 2 gaps, 3 uneven, 4 interpolate (SamplingChoice in this order).
  int sampling = 0;
};

// The sampling choice of code 0..4 of AnalysisOptions::sampling.
SamplingChoice sampling_choice(int code);

// How significant peaks are judged, and what more the spectrum run gives.
// The defaults are the dialogue's run.
struct SignificanceOptions {
  bool median_bias_correction = false;
  bool exact_concentrations = false;
  int pad = 1;                 // 1, 2, 4 or 8
  bool montecarlo = false;     // levels from AR(1) surrogates instead of chi-square
  int surrogates = 1000;
  std::uint64_t seed = 1;
  bool surrogates_given = false;
  bool seed_given = false;
  bool jackknife = false;
  int max_peaks = 40;
  // Threads that share one series' surrogates.
  int jobs = 1;
};

struct ReconOptions {
  enum class Mode { None, Peaks, Trend, Frequencies };
  Mode mode = Mode::None;
  std::vector<float> frequencies;  // Mode::Frequencies, in the order given
  float level = 99.0f;             // Mode::Peaks: least significance in percent
  int constraint = 0;              // iconstr
  bool level_given = false;
  bool constraint_given = false;
};

// The fewest and most surrogates of Monte Carlo levels, and why the fewest
// are so many: n surrogates rank the series' value among n + 1, so the
// highest level they can place is n / (n + 1), which reaches 95 % only from
// n = 19 (with fewer, the 95 % level would be the largest surrogate by fiat).
inline constexpr int kFewestSurrogates = 19;
inline constexpr int kMostSurrogates = 100000;
inline constexpr std::string_view kFewestSurrogatesReason =
    "fewer than 19 surrogates cannot place a 95 % level: n of them reach at most n/(n+1)";

// How messages name an option: as the command line spells it
// ("--median-bias-correction", "--background raw") or as a keyword of the
// library's functions ("median_bias_correction", "background='raw'").
enum class Naming { options, keywords };

// Option `name` (written with '-' between words) in the style of `naming`,
// and the same with a value.
std::string option_name(Naming naming, std::string_view name);
std::string option_value(Naming naming, std::string_view name, std::string_view value);

// Options that each make sense alone but not together (the settings of a
// harmonic analysis, smoothing or a fit without a median, Monte Carlo
// settings without Monte Carlo levels, a reconstruction setting without a
// reconstruction, the jackknife with one taper). Returns the message naming
// the options, or empty.
std::string contradiction(const AnalysisOptions& a, const SignificanceOptions& g,
                          const ReconOptions& r, Naming naming);

// Applies the analysis options to the defaults of the series in `r` (after
// set_defaults) in the order of the dialogue's menus: resolution (1),
// spectrum and band (4), signal assumption (3), noise (2), so that each
// setting follows the ones it depends on as it does there. Returns the
// reason when a value does not suit this series (a smoothing width outside
// the bandwidth to half the band), else empty; `r` is then partly set.
std::string apply_options(const AnalysisOptions& a, AnalysisRecord& r, Naming naming);

// The refinements of a spectrum run that the significance options ask for.
RunRefinements run_refinements(const SignificanceOptions& g);

// Selects the reconstruction of `recon` in the signals list of `r` (after a
// spectrum run) and sets the constraint: the peaks at or above the level
// that are not trend, the trend, or the frequencies given, added to the
// list. Returns the reason when a frequency cannot be reconstructed for this
// series (above the Nyquist frequency, the list full), else empty.
std::string select_signals(const ReconOptions& recon, AnalysisRecord& r, Naming naming);

}  // namespace quorvane::api

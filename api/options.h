// The analysis options of one series as the command line and the public
// functions give them: each setting either given or left to the default the
// dialogue starts from for the series, the checks of settings that
// contradict each other, and their application to a series' defaults in the
// order of the dialogue's menus.
#pragma once

#include <cstdint>
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "api/analysis.h"
#include "api/analysis_record.h"
#include "quorvane/settings.h"
#include "quorvane/status.h"

namespace quorvane::api {

// The settings given, in the engine's vocabulary; empty: the dialogue's
// default for the series.
struct AnalysisOptions {
  std::optional<int> resolution;                // p
  std::optional<int> tapers;                    // nwin
  std::optional<Noise> noise;
  std::optional<Background> background;
  std::optional<float> smoothing;               // fsmooth
  std::optional<Fit> fit;
  std::optional<Signal> signal;
  std::optional<Estimate> estimate;
  std::optional<Normalize> normalize;
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
  int pad = Settings{}.pad;    // 1, 2, 4 or 8
  bool montecarlo = false;     // levels from AR(1) surrogates instead of chi-square
  int surrogates = Settings{}.surrogates;
  std::uint64_t seed = Settings{}.seed;
  bool montecarlo_given = false;
  bool surrogates_given = false;
  bool seed_given = false;
  bool jackknife = false;
  int max_peaks = Settings{}.max_peaks;
  // Threads that share one series' surrogates.
  int jobs = Settings{}.jobs;
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

// Where a series file is and how it is laid out: the command line's FILE,
// --layout and the answers of each layout.
struct InputOptions {
  std::string file;
  // 1..8: raw ring widths, chronology, single, two, multiple columns, monthly, rows, csv
  int layout = 0;
  std::optional<int> skip;                   // lines above the data (layouts 4 to 8)
  std::optional<int> per_line;               // monthly: values per line
  std::optional<float> multiplier;           // monthly: factor to the values' units
  std::optional<std::string> sentinel;       // multiple columns: marker of a missing cell
  std::optional<std::string> record_layout;  // rows: the layout of one line
  std::optional<int> columns;                // multiple columns (with X) or rows: columns read
  std::optional<std::string> time_column;    // csv: the time column's header (default the first)
  std::vector<std::string> value_columns;    // csv: the series' headers (default every numeric one)
  // The series to analyse: empty for all, else 1-based numbers or names,
  // in the order given.
  std::vector<std::string> series;
};

struct OutputOptions {
  std::string out = ".";
  std::string plots = "none";  // none, png, svg or pdf
  int jobs = 0;                // worker threads; 0 until resolved to the number of cores
  bool quiet = false;
  // A folder in use by another run: wait for it to end instead of refusing.
  bool wait = false;
  std::string format = "csv";  // of the spectrum file: csv or netcdf
  // The frequencies whose spectrum rows are written (FMIN <= f <= FMAX);
  // empty for every row of the band.
  std::optional<std::pair<float, float>> spectrum_band;
};

// The moving window of an evolutive spectrum, in the series' time units.
struct WindowOptions {
  float window = 0.0f;      // window length
  float step = 0.0f;        // how far the window moves
  bool show_ratio = false;  // the heat map shows spectrum over background, not power
  // Records with gaps or uneven steps: the fewest samples a window is
  // analysed with; 0 for max(2K + 2, 10).
  int min_samples = 0;
};

// The two records of a cross-spectrum.
struct PairOptions {
  // FILE_B (file empty: both series from the first file) and its layout
  // options; each one left out takes the first file's.
  InputOptions second;
  std::string series_a, series_b;  // a 1-based number or a name; empty: the default
  // The step of --sampling interpolate; empty: the coarser median step.
  std::optional<float> common_step;
};

// The chronologies of an ensemble spectrum: a file of members, or a
// generated age model with its parameters.
struct AgeModelOptions {
  std::string file;       // the age ensemble CSV
  std::string model;      // "counted" or "tiepoints"; empty: the file
  double miscount = 0.05;
  std::string tiepoints;  // the tie-point CSV
  int members = 1000;
  double agreement = 0.5;
  bool members_out = false;
};

// Every option of every command, each command using its own part.
struct RunOptions {
  InputOptions input;
  AnalysisOptions analysis;
  SignificanceOptions significance;
  ReconOptions recon;
  OutputOptions output;
  WindowOptions windows;
  PairOptions pair;
  AgeModelOptions ensemble;
};

// The most tapers the engine takes, and how many a resolution P gets when
// none are asked for: 2P - 1, the tapers well concentrated in the band of
// P Rayleigh frequencies, but never more than the engine takes (so a
// resolution above 4 keeps 8 tapers), for spectra and coherence alike.
inline constexpr int kMostTapers = 8;
inline constexpr int default_tapers(int p) { return 2 * p - 1 < kMostTapers ? 2 * p - 1 : kMostTapers; }

// The significance level in percent of `isiglev` 1..6 (50, 90, 95, 99, 99.5
// and 99.9 %): those of the public F levels.
float level_percent(int isiglev);

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
// reconstruction, the jackknife with one taper): a failure naming the
// options, or success.
Status contradiction(const AnalysisOptions& a, const SignificanceOptions& g,
                          const ReconOptions& r, Naming naming);

// Applies the analysis options to the defaults of the series in `r` (after
// set_defaults) in the order of the dialogue's menus: resolution (1),
// spectrum and band (4), signal assumption (3), noise (2), so that each
// setting follows the ones it depends on as it does there. Returns the
// reason when a value does not suit this series (a smoothing width outside
// the bandwidth to half the band); `r` is then partly set.
Status apply_options(const AnalysisOptions& a, AnalysisRecord& r, Naming naming);

// The refinements of a spectrum run that the significance options ask for.
RunRefinements run_refinements(const SignificanceOptions& g);

// Selects the reconstruction of `recon` in the signals list of `r` (after a
// spectrum run) and sets the constraint: the peaks at or above the level
// that are not trend, the trend, or the frequencies given, added to the
// list. Returns the reason when a frequency cannot be reconstructed for this
// series (above the Nyquist frequency, the list full).
Status select_signals(const ReconOptions& recon, AnalysisRecord& r, Naming naming);

}  // namespace quorvane::api

// The options of `quorvane analyse`: what each one holds, the table that
// parses them, and the checks of options that contradict each other.
//
// Every analysis option left out takes the value the dialogue would start
// from for the chosen series; those values depend on the series, so an
// option that is not given stays empty here and the defaults are applied per
// series (see cli/batch.h).
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace CLI {
class App;
class Validator;
}  // namespace CLI

namespace quorvane::cli {

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
  // 2 gaps, 3 uneven, 4 interpolate (driver::SamplingChoice in this order).
  int sampling = 0;
};

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
  // Threads that share one series' surrogates: --jobs divided among the
  // series analysed at the same time (set when the run starts).
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

struct OutputOptions {
  std::string out = ".";
  std::string plots = "none";  // none, png, svg or pdf
  int jobs = 0;                // worker threads; 0 until resolved to the number of cores
  bool quiet = false;
};

struct Options {
  InputOptions input;
  AnalysisOptions analysis;
  SignificanceOptions significance;
  ReconOptions recon;
  OutputOptions output;
};

// What the command line asks for.
struct ParseOutcome {
  bool run = false;     // analyse with the options parsed
  int exit_status = 0;  // when not run: 0 after --help or --version, 2 for a usage error
};

// Parses the arguments after the program name. Writes --help and --version
// to `out`; a usage error goes to `err` as one message naming the option,
// followed by a hint to --help. `options` is complete only when the outcome
// says to run.
ParseOutcome parse_command_line(const std::vector<std::string>& args, Options& options,
                                std::ostream& out, std::ostream& err);

// The names of the input layouts, by code 1..8.
const std::vector<std::string>& layout_names();

// The names of the --sampling choices, by code 0..4.
const std::vector<std::string>& sampling_names();

// The pieces of the option table that other commands share with analyse:
// the input options (FILE, --layout and the answers of each layout), the
// analysis options (main menu items 1 to 4), and the refinements of the
// estimate (--median-bias-correction, --concentrations, --pad), each added
// to `app` with its group and help, writing into `options`.
void add_input_options(CLI::App& app, Options& options);
void add_analysis_options(CLI::App& app, Options& options);
void add_refinement_options(CLI::App& app, Options& options);
// Breaks every option description of `app` into lines that fit the help.
void wrap_descriptions(CLI::App& app);
// Accepts a finite number above 0; the message quotes the text.
const CLI::Validator& positive_number();

// Options that each make sense alone but not together, or that a layout
// needs. Returns the message, naming the options, or empty.
std::string contradiction(const Options& options);

}  // namespace quorvane::cli

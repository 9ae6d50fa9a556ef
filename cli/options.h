// The options of `quorvane analyse`: what each one holds, the table that
// parses them, and the checks of options that contradict each other.
//
// Every analysis option left out takes the value the dialogue would start
// from for the chosen series; those values depend on the series, so an
// option that is not given stays empty here and the defaults are applied per
// series (see cli/batch.h).
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "api/options.h"
#include "input/layouts.h"

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

// The analysis, significance and reconstruction options are those of the
// public functions' layer beneath (api/options.h).
using api::AnalysisOptions;
using api::ReconOptions;
using api::SignificanceOptions;

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
using input::layout_names;

// The names of the --sampling choices, by code 0..4.
const std::vector<std::string>& sampling_names();

// The pieces of the option table that other commands share with analyse:
// the input options (FILE, --layout and the answers of each layout), the
// analysis options (main menu items 1 to 4), and the refinements of the
// estimate (--median-bias-correction, --concentrations, --pad), each added
// to `app` with its group and help, writing into `options`.
void add_input_options(CLI::App& app, Options& options);
// The layout options alone (--layout and the answers of each layout) into
// `input`, each name followed by `suffix`. With a suffix they are a second
// file's: --layout is not required and each help names `second`.
void add_layout_options(CLI::App& app, InputOptions& input, const std::string& suffix,
                        const std::string& second);
void add_analysis_options(CLI::App& app, Options& options);
void add_refinement_options(CLI::App& app, Options& options);
// Breaks every option description of `app` into lines that fit the help.
void wrap_descriptions(CLI::App& app);
// Checks of option values. Each refusal quotes the text, says what is wrong
// with it and ends with "; expected " and `expected`, what the option
// accepts; CLI11 puts the option's name in front. A finite number above 0:
CLI::Validator positive_number(const std::string& expected);
// A whole number for which `accepted` holds, the text rewritten as a plain
// decimal (a transform); refused as `refused` when `accepted` does not hold.
CLI::Validator whole_number(std::function<bool(unsigned long long)> accepted,
                            const std::string& expected,
                            const std::string& refused = "is out of range");
std::function<bool(unsigned long long)> from_to(unsigned long long low, unsigned long long high);
// One of `names` in any letter case, rewritten as there (a transform).
CLI::Validator one_of(const std::vector<std::string>& names);
// Any text but an empty one.
CLI::Validator not_empty(const std::string& expected);
// Accepts FMIN:FMAX with 0 <= FMIN < FMAX; band_value reads a text it accepted.
const CLI::Validator& band_text();
std::pair<float, float> band_value(const std::string& text);
// Turns one of the names of `codes`, in any letter case, into its code; the
// message lists the names in their order.
CLI::Validator choice_codes(const std::vector<std::pair<std::string, int>>& codes);

// Options that each make sense alone but not together, or that a layout
// needs. Returns the message, naming the options, or empty.
std::string contradiction(const Options& options);

}  // namespace quorvane::cli

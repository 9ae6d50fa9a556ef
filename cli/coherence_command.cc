#include "cli/coherence_command.h"

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <ostream>
#include <sstream>
#include <thread>

#include "cli/batch.h"
#include "cli/files.h"
#include "cli/folder_lock.h"
#include "cli/interrupt.h"
#include "cli/summary.h"
#include "display/coherence_plot.h"
#include "display/plot_file.h"
#include "input/series_file.h"
#include "spectral/analyses/coherence.h"

namespace quorvane::cli {

namespace {

void add_coherence_options(CLI::App& app, CoherenceOptions& o) {
  app.add_option("FILE_A", o.a.file, "The file of series A (and of B without FILE_B)")
      ->required()
      ->type_name("")
      ->check(not_empty("the name of the file of series A"));
  app.add_option("FILE_B", o.b.file, "The file of series B (default FILE_A)")->type_name("");
  add_layout_options(app, o.a, "", "");
  add_layout_options(app, o.b, "-b", "FILE_B");
  const std::string input = "Input";
  app.add_option("--series-a", o.series_a,
                 "Series A: its number (from 1) or name in FILE_A (default 1)")
      ->type_name("N|NAME")
      ->group(input);
  app.add_option("--series-b", o.series_b,
                 "Series B: its number or name (default 2 of FILE_A, or 1 of FILE_B)")
      ->type_name("N|NAME")
      ->group(input);

  const std::string analysis = "Analysis";
  app.add_option_function<int>(
         "--resolution", [&o](const int& v) { o.resolution = v; },
         "Resolution P in multiples of the Rayleigh frequency (default 2)")
      ->transform(whole_number(from_to(1, 1000000),
                               "a whole number of Rayleigh frequencies from 1 to 1000000"))
      ->type_name("P")
      ->group(analysis);
  app.add_option_function<int>(
         "--tapers", [&o](const int& v) { o.tapers = v; },
         "Number of tapers K, 2..8 (default 2P-1, so 3)")
      ->transform(whole_number(from_to(2, 8), "a whole number of tapers from 2 to 8"))
      ->type_name("K")
      ->group(analysis);
  app.add_option_function<std::string>(
         "--band", [&o](const std::string& v) { o.band = band_value(v); },
         "Frequency band FMIN:FMAX (default 0 to the Nyquist frequency 0.5/dt)")
      ->check(band_text())
      ->type_name("FMIN:FMAX")
      ->group(analysis);
  app.add_option("--pad", o.pad,
                 "Transform length the next power of two at or above FACTOR times the "
                 "length, at least 1024: 1, 2, 4 or 8 (default 1)")
      ->transform(whole_number(
          [](unsigned long long v) { return v == 1 || v == 2 || v == 4 || v == 8; },
          "1, 2, 4 or 8 (the transform is at least FACTOR times the length)",
          "is not a power of two up to 8"))
      ->type_name("FACTOR")
      ->group(analysis);
  app.add_option_function<int>(
         "--estimate", [&o](const int& v) { o.adaptive = v == 1; },
         "hires (equal weights of the K eigen-cross-spectra) or adaptive (each series' "
         "adaptive weights; Monte Carlo levels) (default hires)")
      ->transform(choice_codes({{"hires", 0}, {"adaptive", 1}}))
      ->type_name("hires|adaptive")
      ->group(analysis);
  app.add_option_function<int>(
         "--concentrations", [&o](const int& v) { o.exact_concentrations = v == 1; },
         "Taper concentrations of the adaptive weights: asymptotic or exact (default "
         "asymptotic)")
      ->transform(choice_codes({{"asymptotic", 0}, {"exact", 1}}))
      ->type_name("asymptotic|exact")
      ->group(analysis);

  const std::string significance = "Significance";
  app.add_option_function<int>(
         "--significance", [&o](const int& v) { o.montecarlo = v == 1; },
         "Coherence levels: chisquare (analytic, equal weights) or montecarlo (quantiles of "
         "independent AR(1) surrogate pairs) (default chisquare; montecarlo for adaptive)")
      ->transform(choice_codes({{"chisquare", 0}, {"montecarlo", 1}}))
      ->type_name("chisquare|montecarlo")
      ->group(significance);
  app.add_option_function<int>(
         "--surrogates",
         [&o](const int& v) {
           o.surrogates = v;
           o.surrogates_given = true;
         },
         "Surrogate pairs of the Monte Carlo levels, at least 19 (with fewer no 95 % level "
         "can be placed) (default 1000)")
      ->transform(whole_number(from_to(api::kFewestSurrogates, api::kMostSurrogates),
                               "a whole number of surrogate pairs from 19 to 100000 (" +
                                   std::string(api::kFewestSurrogatesReason) + ")"))
      ->type_name("M")
      ->group(significance);
  app.add_option_function<std::uint64_t>(
         "--seed",
         [&o](const std::uint64_t& v) {
           o.seed = v;
           o.seed_given = true;
         },
         "Random seed of the Monte Carlo levels (default 1); the same for any --jobs")
      ->transform(whole_number(from_to(0, std::numeric_limits<std::uint64_t>::max()),
                               "a whole number from 0 to 18446744073709551615"))
      ->type_name("S")
      ->group(significance);

  const std::string output = "Output";
  app.add_option("--out", o.output.out,
                 "Folder of the result files, created when missing (default the current folder)")
      ->check(not_empty("the folder of the result files"))
      ->type_name("DIR")
      ->group(output);
  app.add_option("--plots", o.output.plots,
                 "Draw coherence and phase to a file: none, png, svg or pdf (default none)")
      ->transform(one_of({"none", "png", "svg", "pdf"}))
      ->type_name("none|png|svg|pdf")
      ->group(output);
  app.add_option("--jobs", o.output.jobs,
                 "Threads that share the surrogates (default the number of cores); the files "
                 "are the same for any number")
      ->transform(whole_number(from_to(1, 1024), "a whole number of jobs from 1 to 1024"))
      ->type_name("N")
      ->group(output);
  app.add_flag("--quiet", o.output.quiet, "Nothing on the standard output; errors only")
      ->group(output);
  app.add_flag("--wait", o.output.wait, "Wait for another run writing to the same --out folder to end, instead of refusing to start")
      ->group(output);
}

std::string coherence_help(const CLI::App& app) {
  std::ostringstream text;
  text << "quorvane coherence: the multitaper cross-spectrum of two series\n\n"
       << "Usage:\n"
       << "  quorvane coherence FILE_A [FILE_B] --layout L [--layout-b L] [options]\n\n"
       << "Series A and B (two series of FILE_A, or one of each file) are analysed on the\n"
       << "times they share; both must be evenly spaced with the same step, their times\n"
       << "on one grid. The options ending in -b describe FILE_B where it differs.\n"
       << "Exit status: 0 done, 1 the pair cannot be analysed, 2 usage error or the --out\n"
       << "folder in use by another run (see --wait); 130 or 143 when interrupted by SIGINT\n"
       << "or SIGTERM, with no summary written.\n\n"
       << app.help("", CLI::AppFormatMode::Sub);
  return text.str();
}

// FILE_B's layout options: those given, else FILE_A's.
InputOptions second_input(const CoherenceOptions& o) {
  InputOptions b = o.a;
  if (o.b.file.empty()) return b;
  b.file = o.b.file;
  if (o.b.layout != 0) b.layout = o.b.layout;
  const auto take = [](auto& into, const auto& given) {
    if (given) into = given;
  };
  take(b.skip, o.b.skip);
  take(b.per_line, o.b.per_line);
  take(b.multiplier, o.b.multiplier);
  take(b.sentinel, o.b.sentinel);
  take(b.record_layout, o.b.record_layout);
  take(b.columns, o.b.columns);
  take(b.time_column, o.b.time_column);
  if (!o.b.value_columns.empty()) b.value_columns = o.b.value_columns;
  return b;
}

// A time as the results show it: the single-precision time's shortest text
// where single precision tells the times apart, else the double.
double shown_time(const input::ChosenSeries& s, std::size_t i) {
  return s.time_single.empty() ? s.time[i] : std::stod(number_text(s.time_single[i]));
}

std::string trimmed(std::string name) {
  while (!name.empty() && name.back() == ' ') name.pop_back();
  return name;
}

// One record of the pair, for the summary.
struct Record {
  std::string name;
  std::size_t number = 0;  // 1-based in its file
  input::ChosenSeries series;
};

using Overlap = spectral::PairOverlap;

// Why the pair has no common grid, or empty.
std::string align(const Record& a, const Record& b, Overlap& o) {
  for (const Record* r : {&a, &b})
    if (std::string problem = spectral::unpaired_sampling(r->name, r->series.sampling);
        !problem.empty())
      return problem;
  const std::vector<double>& ta = a.series.time;
  const std::vector<double>& tb = b.series.time;
  switch (spectral::align_pair(ta, a.series.dt, tb, b.series.dt, o)) {
    case spectral::PairAlignment::aligned:
      return {};
    case spectral::PairAlignment::steps_differ:
      return fmt::format("the time steps differ: {} every {}, {} every {} (they must agree "
                         "within 1e-4 of a step)",
                         a.name, number_text(a.series.dt), b.name, number_text(b.series.dt));
    case spectral::PairAlignment::off_grid:
      return fmt::format("the sample times of {} lie {} of a step off those of {} (first times "
                         "{} and {}): the times must fall on one grid",
                         b.name, number_text(static_cast<float>(o.offset - std::floor(o.offset))),
                         a.name, shown_time(a.series, 0), shown_time(b.series, 0));
    case spectral::PairAlignment::disjoint:
      break;
  }
  o = {};
  return fmt::format("the records do not overlap: {} runs from {} to {}, {} from {} to {}",
                     a.name, shown_time(a.series, 0), shown_time(a.series, ta.size() - 1),
                     b.name, shown_time(b.series, 0), shown_time(b.series, tb.size() - 1));
}

struct PairResult {
  bool ok = false;
  std::string message;
  Overlap overlap;
  spectral::CoherenceSettings settings;
  spectral::CoherenceResult result;
  std::vector<std::string> files;
};

Json record_json(const Record& r, const InputOptions& input) {
  Json block;
  block["name"] = r.name;
  block["number"] = r.number;
  block["file"] = input.file;
  if (!r.series.y.empty()) {
    block["npts"] = r.series.y.size();
    block["dt"] = json_number(r.series.dt);
    block["first_time"] = shown_time(r.series, 0);
  }
  return block;
}

// The coherent maxima in the summary: one header, then one row per maximum
// on a line of its own, so that a long record's many maxima take a line
// each rather than a dozen (the coherence file holds every frequency).
constexpr std::array<const char*, 9> kCoherentColumns = {
    "frequency",       "period", "coherence",   "coherence_lower", "coherence_upper",
    "phase",           "phase_lower", "phase_upper", "level"};
constexpr const char* kCoherentRowsMark = "@coherent rows@";

// The summary as text: indented, with the coherent maxima's rows put where
// their mark stands.
std::string summary_text(const Json& summary, const std::vector<spectral::CoherentMaximum>& maxima) {
  std::string text = summary.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
  const std::string mark = std::string("\"") + kCoherentRowsMark + "\"";
  const std::size_t at = text.find(mark);
  if (at == std::string::npos) return text;
  std::string rows = "[";
  for (std::size_t i = 0; i < maxima.size(); ++i) {
    const spectral::CoherentMaximum& m = maxima[i];
    const Json row = {json_number(m.frequency),       json_number(1.0f / m.frequency),
                      json_number(m.coherence),       json_number(m.coherence_lower),
                      json_number(m.coherence_upper), json_number(m.phase),
                      json_number(m.phase_lower),     json_number(m.phase_upper),
                      m.level};
    rows += (i == 0 ? "\n      " : ",\n      ") +
            row.dump(-1, ' ', false, Json::error_handler_t::replace);
  }
  rows += maxima.empty() ? "]" : "\n    ]";
  return text.replace(at, mark.size(), rows);
}

Json coherence_summary(const CoherenceOptions& o, const InputOptions& input_b, const Record& a,
                       const Record& b, const PairResult& p, const input::SeriesTable& table_a,
                       const input::SeriesTable& table_b) {
  Json summary;
  summary["program"] = "quorvane";
  summary["version"] = QUORVANE_VERSION;
  summary["command"] = "coherence";
  Json input;
  input["a"] = input_json(o.a);
  input["b"] = input_json(input_b);
  input["a"].erase("series");
  input["b"].erase("series");
  add_reading(input["a"], table_a);
  add_reading(input["b"], table_b);
  summary["input"] = input;
  const spectral::CoherenceSettings& s = p.settings;
  Json settings;
  settings["tapers"] = s.nwin;
  settings["resolution"] = s.p;
  settings["band"] = {json_number(s.fmin), json_number(s.fmax)};
  settings["pad"] = s.pad;
  settings["estimate"] = s.adaptive ? "adaptive" : "hires";
  settings["concentrations"] = s.exact_concentrations ? "exact" : "asymptotic";
  settings["significance"] = s.surrogates > 0 ? "montecarlo" : "chisquare";
  if (s.surrogates > 0) {
    settings["surrogates"] = s.surrogates;
    settings["seed"] = s.seed;
  }
  settings["plots"] = o.output.plots;
  summary["settings"] = settings;
  summary["a"] = record_json(a, o.a);
  summary["b"] = record_json(b, input_b);
  summary["status"] = p.ok ? "ok" : "failed";
  if (!p.ok) summary["message"] = p.message;
  if (p.overlap.count > 0) {
    const std::size_t last = p.overlap.first_a + p.overlap.count - 1;
    summary["span"] = {{"first", shown_time(a.series, p.overlap.first_a)},
                       {"last", shown_time(a.series, last)},
                       {"values", p.overlap.count},
                       {"first_a", p.overlap.first_a + 1},
                       {"first_b", p.overlap.first_b + 1}};
  }
  if (p.ok) {
    const spectral::CoherenceResult& r = p.result;
    summary["bandwidth"] = json_number(static_cast<float>(
        2.0 * s.p / (static_cast<double>(p.overlap.count) * p.overlap.dt)));
    summary["rho_a"] = json_number(r.rho_a);
    summary["rho_b"] = json_number(r.rho_b);
    summary["coherent"] = {{"columns", kCoherentColumns}, {"rows", kCoherentRowsMark}};
  }
  summary["files"] = p.files;
  return summary;
}

// The analysis and the files of an aligned pair.
void analyse_pair(const CoherenceOptions& o, const Record& a, const Record& b,
                  const std::string& stem, PairResult& p) {
  const Overlap& v = p.overlap;
  spectral::CoherenceSettings& s = p.settings;
  s.dt = static_cast<float>(v.dt);
  s.fmin = o.band ? o.band->first : 0.0f;
  s.fmax = o.band ? o.band->second : 0.5f / s.dt;
  const std::span<const float> ya =
      std::span<const float>(a.series.y).subspan(v.first_a, v.count);
  const std::span<const float> yb =
      std::span<const float>(b.series.y).subspan(v.first_b, v.count);
  if (Status status = spectral::coherence(ya, yb, s, p.result); !status) {
    p.message = status.message.substr(std::min(status.message.find_first_not_of(' '),
                                               status.message.size()));
    return;
  }
  const spectral::CoherenceResult& r = p.result;
  const std::string folder = o.output.out;
  const std::string name = stem + ".coherence.csv";
  std::vector<float> period(r.frequency.size());
  for (std::size_t i = 0; i < period.size(); ++i) period[i] = 1.0f / r.frequency[i];
  const std::vector<Column> columns = {
      {"frequency", r.frequency},       {"period", period},
      {"coherence", r.coherence},       {"coherence_lower", r.coherence_lower},
      {"coherence_upper", r.coherence_upper}, {"phase", r.phase},
      {"phase_lower", r.phase_lower},   {"phase_upper", r.phase_upper},
      {"gain", r.gain},                 {"spectrum_a", r.spectrum_a},
      {"spectrum_b", r.spectrum_b},     {"level50", r.levels[0]},
      {"level90", r.levels[1]},         {"level95", r.levels[2]},
      {"level99", r.levels[3]}};
  std::string error;
  if (!write_file_atomically(folder + "/" + name, csv_pieces(columns, o.output.jobs), error)) {
    p.message = error;
    return;
  }
  p.files.push_back(name);
  if (o.output.plots != "none") {
    const std::string plot = stem + ".coherence." + o.output.plots;
    display::CoherencePlotInput in;
    in.title = fmt::format("{} and {}: coherence and phase (K = {})", a.name, b.name, s.nwin);
    in.frequency = r.frequency;
    in.coherence = r.coherence;
    in.level95 = r.levels[2];
    in.level99 = r.levels[3];
    in.phase = r.phase;
    in.phase_lower = r.phase_lower;
    in.phase_upper = r.phase_upper;
    if (!display::draw_coherence_file(in, display::file_device(o.output.plots),
                                      folder + "/" + plot, error)) {
      p.message = "plot " + plot + " not drawn: " + error;
      return;
    }
    p.files.push_back(plot);
  }
  p.ok = true;
}

// The record `wanted` names in `table` (empty: number `fallback`); false
// with `error` when there is none.
bool pick(const input::SeriesTable& table, const std::string& wanted, std::size_t fallback,
          const std::string& file, Record& r, std::string& error) {
  std::vector<std::size_t> chosen;
  if (wanted.empty()) {
    if (fallback >= table.series.size()) {
      error = fmt::format("{} holds {} series; give FILE_B or --series-b", file,
                          table.series.size());
      return false;
    }
    chosen.push_back(fallback);
  } else if (!select_series(table, {wanted}, chosen, error)) {
    return false;
  }
  r.number = chosen.front() + 1;
  r.name = trimmed(table.series[chosen.front()].name);
  return true;
}

}  // namespace

ParseOutcome parse_coherence(const std::vector<std::string>& args, CoherenceOptions& options,
                             std::ostream& out, std::ostream& err) {
  CLI::App app{"Multitaper cross-spectrum of two series", "quorvane coherence"};
  app.set_help_flag("-h,--help", "Show every option with its default");
  app.get_formatter()->column_width(34);
  add_coherence_options(app, options);
  wrap_descriptions(app);
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  const auto usage = [&err](const std::string& message) {
    err << "quorvane coherence: " << message << "\n"
        << "Run 'quorvane coherence --help' for the options.\n";
    return ParseOutcome{false, kUsageError};
  };
  try {
    app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    out << coherence_help(app);
    return {false, 0};
  } catch (const CLI::ParseError& error) {
    return usage(error.what());
  }
  const InputOptions b = second_input(options);
  if (options.b.file.empty()) {
    for (CLI::Option* option : app.get_options()) {
      const std::string name = option->get_name();
      if (option->count() > 0 && name != "--series-b" && name.ends_with("-b"))
        return usage(name + " describes FILE_B, and no FILE_B is given");
    }
  }
  for (const InputOptions* input : {static_cast<const InputOptions*>(&options.a), &b}) {
    Options layout;
    layout.input = *input;
    if (std::string message = contradiction(layout); !message.empty())
      return usage(input == &b && !options.b.file.empty() ? "FILE_B: " + message : message);
  }
  if (options.adaptive && options.montecarlo == false)
    return usage("--estimate adaptive has no chisquare level: its levels come from surrogates "
                 "(--significance montecarlo)");
  const bool montecarlo = options.adaptive || options.montecarlo.value_or(false);
  if (!montecarlo && (options.surrogates_given || options.seed_given))
    return usage(std::string(options.surrogates_given ? "--surrogates" : "--seed") +
                 " applies to --significance montecarlo (or --estimate adaptive) only");
  return {true, 0};
}

int run_coherence(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  CoherenceOptions o;
  const ParseOutcome outcome = parse_coherence(args, o, out, err);
  if (!outcome.run) return outcome.exit_status;
  const InputOptions input_b = second_input(o);
  const std::string& folder = o.output.out;
  std::string error;
  const auto usage = [&err](const std::string& message) {
    err << "quorvane coherence: " << message << "\n";
    return kUsageError;
  };
  input::SeriesTable table_a, table_b;
  const bool two_files = !o.b.file.empty();
  const bool read =
      read_file(o.a, table_a, error) && (!two_files || read_file(input_b, table_b, error));
  if (const int signal = interruption(); signal != 0)
    return stopped(err, "quorvane coherence", signal);
  if (!read) return usage(error);
  report_reading(table_a, "quorvane coherence", err);
  if (two_files) report_reading(table_b, "quorvane coherence", err);
  const input::SeriesTable& from_b = two_files ? table_b : table_a;
  Record a, b;
  if (!pick(table_a, o.series_a, 0, o.a.file, a, error) ||
      !pick(from_b, o.series_b, two_files ? 0 : 1, input_b.file, b, error))
    return usage(error);
  if (o.output.plots != "none" && display::file_device(o.output.plots).empty())
    return usage("--plots: this PLplot has no device that writes " + o.output.plots + " files");
  FolderLock lock;
  if (!create_output_folder(folder, error) || !lock.acquire(folder, o.output.wait, error)) {
    if (error.empty()) {  // interrupted while waiting for the folder
      return stopped(err, "quorvane coherence", interruption());
    }
    return usage(error);
  }
  if (o.output.jobs == 0)
    o.output.jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));

  PairResult p;
  spectral::CoherenceSettings& s = p.settings;
  s.p = o.resolution.value_or(2);
  s.nwin = o.tapers.value_or(std::min(2 * s.p - 1, 8));
  s.pad = o.pad;
  s.adaptive = o.adaptive;
  s.exact_concentrations = o.exact_concentrations;
  if (o.adaptive || o.montecarlo.value_or(false)) {
    s.surrogates = o.surrogates;
    s.seed = o.seed;
  }
  s.jobs = o.output.jobs;
  s.cancelled = interrupted();
  const std::vector<std::string> stems = unique_stems({a.name, b.name});
  const std::string stem = stems[0] + "__" + stems[1];
  try {
    if (!input::choose_series(table_a, a.number - 1, a.series, error) ||
        !input::choose_series(from_b, b.number - 1, b.series, error)) {
      p.message = error;
    } else if (std::string problem = align(a, b, p.overlap); !problem.empty()) {
      p.message = problem;
    } else {
      analyse_pair(o, a, b, stem, p);
    }
  } catch (const std::exception& failure) {
    p.ok = false;
    p.message = std::string("the analysis stopped: ") + failure.what();
  }
  // An interrupted run has no summary, as for analyse: the files already
  // complete stay.
  if (const int signal = interruption(); signal != 0)
    return stopped(err, "quorvane coherence", signal);
  int status = p.ok ? kAllAnalysed : kSomeFailed;
  if (!p.ok) err << "quorvane coherence: " << a.name << " and " << b.name << ": " << p.message << "\n";
  const std::string summary =
      summary_text(coherence_summary(o, input_b, a, b, p, table_a, two_files ? table_b : table_a),
                   p.result.coherent);
  if (!write_file_atomically(folder + "/summary.json", summary, error)) {
    // A signal while the summary was written removed it: the run ends as
    // an interrupted one, not as a failed write.
    if (const int signal = interruption(); signal != 0)
      return stopped(err, "quorvane coherence", signal);
    err << "quorvane coherence: " << error << "\n";
    status = kSomeFailed;
  }
  if (p.ok && !o.output.quiet) {
    out << fmt::format("{} and {}: {} values in common, {} frequencies, {} coherent maxima, {} "
                       "files in {}\n",
                       a.name, b.name, p.overlap.count, p.result.count, p.result.coherent.size(),
                       p.files.size(), folder);
  }
  out.flush();
  return status;
}

}  // namespace quorvane::cli

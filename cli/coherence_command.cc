#include "cli/coherence_command.h"

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <ostream>
#include <sstream>

#include "api/analysis.h"
#include "cli/batch.h"
#include "cli/command_frame.h"
#include "cli/files.h"
#include "cli/interrupt.h"
#include "cli/summary.h"
#include "display/coherence_plot.h"
#include "display/plot_file.h"
#include "input/series_file.h"
#include "spectral/analyses/coherence.h"

namespace quorvane::cli {

namespace {

std::string coherence_help(const CLI::App& app) {
  std::ostringstream text;
  text << "quorvane coherence: the multitaper cross-spectrum of two series\n\n"
       << "Usage:\n"
       << "  quorvane coherence FILE_A [FILE_B] --layout L [--layout-b L] [options]\n\n"
       << "Series A and B (two series of FILE_A, or one of each file) are analysed on the\n"
       << "span of times they share: on one grid when both are evenly spaced with the same\n"
       << "step and their times on it, else each on its own times (gaps, uneven or\n"
       << "different steps). The options ending in -b describe FILE_B where it differs.\n"
       << "Exit status: 0 done, 1 the pair cannot be analysed, 2 usage error or the --out\n"
       << "folder in use by another run (see --wait); 130 or 143 when interrupted by SIGINT\n"
       << "or SIGTERM, with no summary written.\n\n"
       << app.help("", CLI::AppFormatMode::Sub);
  return text.str();
}

// FILE_B's layout options: those given, else FILE_A's.
InputOptions second_input(const Options& o) {
  const InputOptions& given = o.pair.second;
  InputOptions b = o.input;
  if (given.file.empty()) return b;
  b.file = given.file;
  if (given.layout != 0) b.layout = given.layout;
  const auto take = [](auto& into, const auto& value) {
    if (value) into = value;
  };
  take(b.skip, given.skip);
  take(b.per_line, given.per_line);
  take(b.multiplier, given.multiplier);
  take(b.sentinel, given.sentinel);
  take(b.record_layout, given.record_layout);
  take(b.columns, given.columns);
  take(b.time_column, given.time_column);
  if (!given.value_columns.empty()) b.value_columns = given.value_columns;
  return b;
}

// A time as the results show it: the single-precision time's shortest text
// where single precision tells the times apart, else the double.
double shown_time(const input::ChosenSeries& s, std::size_t i) {
  return s.time_single.empty() ? s.time[i] : std::stod(number_text(s.time_single[i]));
}

// One record of the pair, for the summary.
struct Record {
  std::string name;
  std::size_t number = 0;  // 1-based in its file
  input::ChosenSeries series;
};

using Overlap = spectral::PairOverlap;

bool interpolated(const Options& o) {
  return api::sampling_choice(o.analysis.sampling) == api::SamplingChoice::interpolate;
}

// How a pair is analysed: on the grid both share, each on its own times,
// or both interpolated to one step.
enum class PairMethod { grid, own_times, interpolated };

// Why the pair cannot be analysed, or empty; `method` gets how it can.
std::string align(const Record& a, const Record& b, bool interpolate, Overlap& o,
                  PairMethod& method) {
  const std::vector<double>& ta = a.series.time;
  const std::vector<double>& tb = b.series.time;
  const bool even = a.series.sampling.kind == spectral::SamplingClass::even &&
                    b.series.sampling.kind == spectral::SamplingClass::even;
  if (even && !interpolate &&
      spectral::align_pair(ta, a.series.dt, tb, b.series.dt, o) ==
          spectral::PairAlignment::aligned) {
    method = PairMethod::grid;
    return {};
  }
  o = {};
  if (std::min(ta.back(), tb.back()) > std::max(ta.front(), tb.front())) {
    method = interpolate ? PairMethod::interpolated : PairMethod::own_times;
    return {};
  }
  return fmt::format("the records do not overlap: {} runs from {} to {}, {} from {} to {}",
                     a.name, shown_time(a.series, 0), shown_time(a.series, ta.size() - 1),
                     b.name, shown_time(b.series, 0), shown_time(b.series, tb.size() - 1));
}

struct PairResult {
  bool ok = false;
  std::string message;
  PairMethod method = PairMethod::grid;
  Overlap overlap;               // on one grid
  spectral::TimedPair timed;     // otherwise
  spectral::CoherenceSettings settings;
  spectral::CoherenceResult result;
  std::vector<std::string> files;
};

const char* method_text(PairMethod method) {
  return method == PairMethod::own_times ? "own_times" : "interpolated";
}

Json record_json(const Record& r, const InputOptions& input, const PairResult& p,
                 bool is_a) {
  Json block;
  block["name"] = r.name;
  block["number"] = r.number;
  block["file"] = input.file;
  if (!r.series.y.empty()) {
    block["npts"] = r.series.y.size();
    block["dt"] = json_number(r.series.dt);
    block["first_time"] = shown_time(r.series, 0);
  }
  // A pair off one grid: how each record's times were taken and how many of
  // its values lie in the shared span.
  if (p.method != PairMethod::grid && !r.series.y.empty()) {
    const spectral::Sampling& sampling = r.series.sampling;
    block["sampling"] = {
        {"class", api::sampling_class_name(sampling.kind)},
        {"method", api::method_name(p.method == PairMethod::own_times
                                        ? api::SpectrumMethod::uneven
                                        : api::SpectrumMethod::interpolate)},
        {"median_step", sampling.median_step},
        {"missing", sampling.missing},
        {"values_used", is_a ? p.timed.count_a : p.timed.count_b},
        {"first_used", (is_a ? p.timed.first_a : p.timed.first_b) + 1}};
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
  std::string text = summary_dump(summary);
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

Json coherence_summary(const Options& o, const InputOptions& input_b, const Record& a,
                       const Record& b, const PairResult& p, const input::SeriesTable& table_a,
                       const input::SeriesTable& table_b) {
  Json summary = summary_header("coherence");
  Json input;
  input["a"] = input_json(o.input);
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
  summary["a"] = record_json(a, o.input, p, true);
  summary["b"] = record_json(b, input_b, p, false);
  summary["status"] = p.ok ? "ok" : "failed";
  if (!p.ok) summary["message"] = p.message;
  if (p.method != PairMethod::grid) {
    summary["method"] = method_text(p.method);
    if (p.method == PairMethod::interpolated) {
      summary["warnings"] = {"interpolation smooths each record and lowers the coherence at "
                             "high frequencies"};
    }
    if (p.timed.count_a > 0) {
      summary["span"] = {{"first", p.timed.first},
                         {"last", p.timed.last},
                         {"length", p.timed.span},
                         {"step", json_number(s.dt)},
                         {"values_a", p.timed.count_a},
                         {"values_b", p.timed.count_b}};
    }
  } else if (p.overlap.count > 0) {
    const std::size_t last = p.overlap.first_a + p.overlap.count - 1;
    summary["span"] = {{"first", shown_time(a.series, p.overlap.first_a)},
                       {"last", shown_time(a.series, last)},
                       {"values", p.overlap.count},
                       {"first_a", p.overlap.first_a + 1},
                       {"first_b", p.overlap.first_b + 1}};
  }
  if (p.ok) {
    const spectral::CoherenceResult& r = p.result;
    const double span = p.method == PairMethod::grid
                            ? static_cast<double>(p.overlap.count) * p.overlap.dt
                            : p.timed.span;
    summary["bandwidth"] = json_number(static_cast<float>(2.0 * s.p / span));
    summary["rho_a"] = json_number(r.rho_a);
    summary["rho_b"] = json_number(r.rho_b);
    if (p.method == PairMethod::own_times) {
      summary["persistence_a"] = p.timed.tau_a;
      summary["persistence_b"] = p.timed.tau_b;
    }
    if (p.method != PairMethod::grid && r.montecarlo)
      summary["band_wide"] = {{"level95", json_number(r.band_wide[0])},
                              {"level99", json_number(r.band_wide[1])}};
    summary["coherent"] = {{"columns", kCoherentColumns}, {"rows", kCoherentRowsMark}};
  }
  summary["files"] = p.files;
  return summary;
}

// The analysis and the files of an aligned pair.
void analyse_pair(const Options& o, const Record& a, const Record& b,
                  const std::string& stem, PairResult& p) {
  const Overlap& v = p.overlap;
  spectral::CoherenceSettings& s = p.settings;
  s.dt = p.method == PairMethod::grid
             ? static_cast<float>(v.dt)
             : static_cast<float>(spectral::pair_step(a.series.sampling.median_step,
                                                      b.series.sampling.median_step,
                                                      o.pair.common_step.value_or(0.0f)));
  s.fmin = o.analysis.band ? o.analysis.band->first : 0.0f;
  s.fmax = o.analysis.band ? o.analysis.band->second : 0.5f / s.dt;
  Status status;
  if (p.method == PairMethod::grid) {
    const std::span<const float> ya =
        std::span<const float>(a.series.y).subspan(v.first_a, v.count);
    const std::span<const float> yb =
        std::span<const float>(b.series.y).subspan(v.first_b, v.count);
    status = spectral::coherence(ya, yb, s, p.result);
  } else if (p.method == PairMethod::own_times) {
    status = spectral::coherence_on_times(a.series.time, a.series.y, b.series.time, b.series.y,
                                          s, p.result, p.timed);
  } else {
    status = spectral::coherence_interpolated(a.series.time, a.series.y, b.series.time,
                                              b.series.y, s, p.result, p.timed);
  }
  if (!status) {
    p.message = status.message;
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

ParseOutcome parse_coherence(const std::vector<std::string>& args, Options& options,
                             std::ostream& out, std::ostream& err, const api::Vocabulary& table) {
  CLI::App app{"Multitaper cross-spectrum of two series", "quorvane coherence"};
  app.set_help_flag("-h,--help", "Show every option with its default");
  app.get_formatter()->column_width(34);
  add_options(app, api::kCoherence, options, table);
  const std::string program = "quorvane coherence";
  const auto usage = [&](const std::string& message) { return usage_error(program, message, err); };
  const ParseOutcome outcome = parse_arguments(app, args, program, coherence_help, out, err);
  if (!outcome.run) return outcome;
  const InputOptions b = second_input(options);
  if (options.pair.second.file.empty()) {
    for (CLI::Option* option : app.get_options()) {
      const std::string name = option->get_name();
      if (option->count() > 0 && name != "--series-b" && name.ends_with("-b"))
        return usage(name + " describes FILE_B, and no FILE_B is given");
    }
  }
  for (const InputOptions* input : {static_cast<const InputOptions*>(&options.input), &b}) {
    if (Status layout = layout_contradiction(*input); !layout)
      return usage(input == &b && !options.pair.second.file.empty() ? "FILE_B: " + layout.message
                                                                    : layout.message);
  }
  // The pair's sampling: as its times call for, or interpolated when asked.
  const api::SamplingChoice sampling = api::sampling_choice(options.analysis.sampling);
  if (sampling != api::SamplingChoice::automatic && sampling != api::SamplingChoice::interpolate)
    return usage("--sampling takes auto or interpolate for a pair");
  if (options.pair.common_step && !interpolated(options))
    return usage("--common-step applies to --sampling interpolate only");
  const SignificanceOptions& g = options.significance;
  const bool adaptive = options.analysis.estimate == Estimate::adaptive;
  if (adaptive && g.montecarlo_given && !g.montecarlo)
    return usage("--estimate adaptive has no chisquare level: its levels come from surrogates "
                 "(--significance montecarlo)");
  if (!adaptive && !g.montecarlo && (g.surrogates_given || g.seed_given))
    return usage(std::string(g.surrogates_given ? "--surrogates" : "--seed") +
                 " applies to --significance montecarlo (or --estimate adaptive) only");
  return {true, 0};
}

int run_coherence(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  Options o;
  const ParseOutcome outcome = parse_coherence(args, o, out, err);
  if (!outcome.run) return outcome.exit_status;
  const InputOptions input_b = second_input(o);
  const std::string& folder = o.output.out;
  CommandFrame frame("quorvane coherence", err);
  input::SeriesTable table_a, table_b;
  const bool two_files = !o.pair.second.file.empty();
  if (!frame.read(o.input, table_a, two_files ? &input_b : nullptr, &table_b))
    return frame.exit_status();
  const input::SeriesTable& from_b = two_files ? table_b : table_a;
  Record a, b;
  std::string error;
  if (!pick(table_a, o.pair.series_a, 0, o.input.file, a, error) ||
      !pick(from_b, o.pair.series_b, two_files ? 0 : 1, input_b.file, b, error)) {
    frame.refuse(error);
    return frame.exit_status();
  }
  if (!frame.prepare_output(o.output)) return frame.exit_status();

  PairResult p;
  spectral::CoherenceSettings& s = p.settings;
  const SignificanceOptions& g = o.significance;
  s.p = o.analysis.resolution.value_or(Settings{}.resolution);
  s.nwin = o.analysis.tapers.value_or(api::default_tapers(s.p));
  s.pad = g.pad;
  s.adaptive = o.analysis.estimate == Estimate::adaptive;
  s.exact_concentrations = g.exact_concentrations;
  if (s.adaptive || g.montecarlo) {
    s.surrogates = g.surrogates;
    s.seed = g.seed;
  }
  s.jobs = o.output.jobs;
  s.cancelled = interrupted();
  const std::vector<std::string> stems = unique_stems({a.name, b.name});
  const std::string stem = stems[0] + "__" + stems[1];
  const bool interpolate = interpolated(o);
  frame.run_items(
      1, 1,
      [&](std::size_t) {
        Status chosen = input::choose_series(table_a, a.number - 1, a.series);
        if (chosen) chosen = input::choose_series(from_b, b.number - 1, b.series);
        if (!chosen) {
          p.message = chosen.message;
        } else if (std::string problem = align(a, b, interpolate, p.overlap, p.method);
                   !problem.empty()) {
          p.message = problem;
        } else {
          analyse_pair(o, a, b, stem, p);
        }
      },
      [&](std::size_t, const std::string& message) {
        p.ok = false;
        p.message = message;
      });
  // An interrupted run has no summary, as for analyse: the files already
  // complete stay.
  if (frame.interrupted()) return frame.exit_status();
  int status = p.ok ? kAllAnalysed : kSomeFailed;
  if (!p.ok) err << "quorvane coherence: " << a.name << " and " << b.name << ": " << p.message << "\n";
  const std::string summary =
      summary_text(coherence_summary(o, input_b, a, b, p, table_a, two_files ? table_b : table_a),
                   p.result.coherent);
  status = frame.write_summary(folder, summary, status);
  if (frame.exit_status() != kAllAnalysed) return frame.exit_status();
  if (p.ok && !o.output.quiet) {
    const std::string common =
        p.method == PairMethod::grid
            ? fmt::format("{} values in common", p.overlap.count)
            : fmt::format("{} and {} values in the shared span ({})", p.timed.count_a,
                          p.timed.count_b,
                          p.method == PairMethod::own_times ? "each on its own times"
                                                            : "interpolated");
    out << fmt::format("{} and {}: {}, {} frequencies, {} coherent maxima, {} files in {}\n",
                       a.name, b.name, common, p.result.count, p.result.coherent.size(),
                       p.files.size(), folder);
  }
  out.flush();
  return status;
}

}  // namespace quorvane::cli

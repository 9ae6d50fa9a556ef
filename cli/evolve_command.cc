#include "cli/evolve_command.h"

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <ostream>
#include <set>
#include <span>
#include <sstream>
#include <string_view>
#include <thread>

#include "api/analysis.h"
#include "api/options.h"
#include "cli/batch.h"
#include "cli/command_frame.h"
#include "cli/files.h"
#include "cli/interrupt.h"
#include "cli/series_run.h"
#include "cli/summary.h"
#include "display/heat_map.h"
#include "display/plot_file.h"
#include "input/series_file.h"
#include "spectral/analyses/evolutive.h"

namespace quorvane::cli {

namespace {

// The frequencies of one window's significant lines, at its centre time.
struct WindowLines {
  float time = 0.0f;
  std::vector<float> frequencies;
};

// A window of a record with gaps or uneven steps left without a spectrum.
struct EmptyWindow {
  std::size_t window = 0;  // 0-based
  float time = 0.0f;       // its centre
  std::size_t samples = 0;
  std::string reason;
};

// What one series gave, for the summary.
struct EvolveResult {
  SeriesResult series;  // name, status, settings of a window, files, notes
  int window = 0, step = 0;  // in values (in median steps on a record with gaps or uneven steps)
  double grid_step = 0.0;    // the step of those units
  bool on_times = false;     // windows on the record's own times (gaps or uneven method)
  std::string sampling;      // the record's class
  std::string method;        // the analysis --sampling chose (empty for auto)
  std::array<std::size_t, 3> methods{};  // windows analysed as even, gaps, uneven
  // The sampling patterns of the windows analysed on plans: the windows
  // beyond one a pattern are those whose plan could be reused (which one
  // made it depends on the threads, the count does not).
  std::set<std::uint64_t> patterns;
  int min_samples = 0;
  std::vector<EmptyWindow> empty;
  std::vector<WindowLines> windows;
  std::size_t tracks = 0;
};

std::string evolve_help(const CLI::App& app) {
  std::ostringstream text;
  text << "quorvane evolve: multitaper spectra of a window moving along each series\n\n"
       << "Usage:\n"
       << "  quorvane evolve FILE --layout L --window W --step S [options]\n\n"
       << "Each window is analysed as analyse analyses those values alone, with the\n"
       << "analysis options below; the F maxima above the --reshape level (default 95 %)\n"
       << "of every window are the line tracks. Windows that run past the end of the\n"
       << "record are dropped. On a record with gaps or uneven steps the window holds\n"
       << "round(W / dt) median steps dt and each window is analysed as its own samples\n"
       << "call for (even, gaps or uneven); a window with fewer than --min-samples samples\n"
       << "or with more than half its steps empty is left empty (nan) and listed in the\n"
       << "summary. --sampling chooses as for analyse: even (the values as if evenly\n"
       << "spaced, at the mean step) and interpolate (to the median step) give windows\n"
       << "of evenly spaced values; gaps keeps the windows on the record's times\n"
       << "(refused for uneven steps); uneven analyses every window by the multitaper\n"
       << "Lomb-Scargle method.\n"
       << "Exit status: 0 every series done, 1 some failed, 2 usage error or the --out folder in\n"
       << "use by another run (see --wait).\n"
       << "Interrupted by SIGINT or SIGTERM: 130 or 143, with the completed files kept.\n\n"
       << app.help("", CLI::AppFormatMode::Sub);
  return text.str();
}

// Values of one matrix held back before the rows are written: about a
// megabyte of each matrix's text, formatted across threads at once.
constexpr std::size_t kPendingValues = std::size_t{1} << 17;

// The text of one matrix row: the time, then the values.
void append_row(std::string& line, float time, std::span<const float> values) {
  line.clear();
  append_number_text(line, time);
  for (float v : values) {
    line += ',';
    append_number_text(line, v);
  }
  line += '\n';
}

class EvolveRun {
 public:
  EvolveRun(const Options& options, const std::string& folder, const std::string& stem,
            EvolveResult& result)
      : options_(options), folder_(folder), stem_(stem), result_(result) {}

  void run(const input::SeriesTable& table, std::size_t index);

 private:
  bool fail(std::string message) {
    result_.series.ok = false;
    result_.series.message = std::move(message);
    return false;
  }
  std::string window_problem(int window, int step, int nwin) const;
  bool open_files();
  Status deliver(const spectral::EvolutiveRow& row);
  Status write_pending();
  Status write_failure();

  const Options& options_;
  const std::string& folder_;
  const std::string& stem_;
  EvolveResult& result_;
  // The values and times analysed, with their method (as analyse loads
  // them for --sampling).
  api::AnalysisRecord series_;
  // The matrices and the tracks, in this order.
  static constexpr std::array<const char*, 4> kKinds = {"evolutive-power", "evolutive-F",
                                                        "evolutive-ratio", "tracks"};
  std::vector<std::unique_ptr<AtomicFile>> files_;
  std::unique_ptr<display::HeatMap> heat_map_;
  std::vector<float> heat_row_, track_time_, track_frequency_, empty_row_;
  std::string line_;
  // The matrices' rows not yet written: their times, and their values one
  // row after another (a row per window, of the band's entries).
  std::vector<float> pending_time_;
  std::array<std::vector<float>, 3> pending_;
  std::size_t count_ = 0;  // windows
  float first_frequency_ = 0.0f, last_frequency_ = 0.0f;
};

std::string EvolveRun::window_problem(int window, int step, int nwin) const {
  const std::size_t npts = series_.y.size();
  if (window < 2 * nwin) {
    return fmt::format(
        "--window {} holds {} values at the time step {}; at least {} are needed (twice the {} "
        "tapers)",
        options_.windows.window, window, result_.series.dt, 2 * nwin, nwin);
  }
  if (static_cast<std::size_t>(window) > npts) {
    return fmt::format("--window {} holds {} values, more than the {} of the series",
                       options_.windows.window, window, npts);
  }
  if (step < 1) {
    return fmt::format("--step {} moves the window by less than one value (the time step is {})",
                       options_.windows.step, result_.series.dt);
  }
  return {};
}

bool EvolveRun::open_files() {
  for (const char* kind : kKinds) {
    files_.push_back(std::make_unique<AtomicFile>(folder_ + "/" + stem_ + "." + kind + ".csv"));
    std::string error;
    if (!files_.back()->open(error)) return fail(error);
  }
  return files_.back()->write("time,frequency,period,F,F_significance,ratio,significance\n");
}

Status EvolveRun::deliver(const spectral::EvolutiveRow& row) {
  // Stops the windows; the files' temporaries go with this run.
  if (interruption() != 0) return Status::interrupted("the run was interrupted");
  const std::size_t m = result_.on_times ? row.entries : row.ratio.size();
  const float f0 = result_.on_times ? row.f0 : row.spectrum->f0;
  const float df = result_.on_times ? row.df : row.spectrum->df;
  float time = 0.0f;
  if (result_.on_times) {
    time = static_cast<float>(series_.time.front() + row.centre * result_.grid_step);
  } else {
    const std::size_t last = row.start + static_cast<std::size_t>(result_.window) - 1;
    time = static_cast<float>(0.5 * (static_cast<double>(series_.time[row.start]) +
                                     static_cast<double>(series_.time[last])));
  }
  if (row.window == 0) {
    // The frequencies of the band, as the spectrum file of analyse gives them.
    line_ = "time";
    for (std::size_t i = 0; i < m; ++i) {
      line_ += ',';
      append_number_text(line_, f0 + static_cast<float>(i) * df);
    }
    line_ += '\n';
    for (std::size_t k = 0; k < 3; ++k)
      if (!files_[k]->write(line_)) return write_failure();
    first_frequency_ = f0;
    last_frequency_ = f0 + static_cast<float>(m > 0 ? m - 1 : 0) * df;
    if (options_.output.plots != "none")
      heat_map_ = std::make_unique<display::HeatMap>(count_, std::max<std::size_t>(m, 1));
  }
  if (result_.on_times) {
    if (row.spectrum == nullptr) {
      result_.empty.push_back({row.window, time, row.samples, row.empty});
    } else {
      ++result_.methods[static_cast<std::size_t>(row.method)];
      if (row.pattern != 0) result_.patterns.insert(row.pattern);
    }
  }
  // An empty window's rows hold nan throughout.
  empty_row_.assign(row.spectrum == nullptr ? m : 0,
                    std::numeric_limits<float>::quiet_NaN());
  const std::array<std::span<const float>, 3> matrices =
      row.spectrum == nullptr
          ? std::array<std::span<const float>, 3>{empty_row_, empty_row_, empty_row_}
          : std::array<std::span<const float>, 3>{
                std::span<const float>(row.spectrum->specraw0).first(m),
                std::span<const float>(row.spectrum->ftest).first(m), row.ratio};
  bool written = true;
  pending_time_.push_back(time);
  for (std::size_t k = 0; k < 3; ++k) {
    pending_[k].insert(pending_[k].end(), matrices[k].begin(), matrices[k].end());
  }
  if (pending_[0].size() >= kPendingValues) {
    if (Status status = write_pending(); !status) return status;
  }
  WindowLines lines;
  lines.time = time;
  for (const auto& l : row.lines) {
    line_.clear();
    for (float v : {time, l.frequency, 1.0f / l.frequency, l.f, l.f_significance, l.ratio,
                    l.significance}) {
      if (!line_.empty()) line_ += ',';
      append_number_text(line_, v);
    }
    line_ += '\n';
    written = files_[3]->write(line_) && written;
    lines.frequencies.push_back(l.frequency);
  }
  result_.tracks += row.lines.size();
  for (const auto& note : row.notes)
    result_.series.notes.push_back(fmt::format("window {}: {}", row.window + 1, note));
  if (heat_map_) {
    const std::span<const float> shown = options_.windows.show_ratio ? matrices[2] : matrices[0];
    heat_row_.resize(m);
    // log10 of 0 is not finite: such cells take the map's lowest colour.
    for (std::size_t i = 0; i < m; ++i) heat_row_[i] = std::log10(shown[i]);
    heat_map_->add_row(row.window, heat_row_);
    for (float f : lines.frequencies) {
      track_time_.push_back(time);
      track_frequency_.push_back(f);
    }
  }
  result_.windows.push_back(std::move(lines));
  return written ? Status::success() : write_failure();
}

// The pending rows of the three matrices, formatted in blocks of rows side
// by side (up to --jobs threads) and written in order: the text of each row
// is the same whichever block formats it.
Status EvolveRun::write_pending() {
  const std::size_t rows = pending_time_.size();
  if (rows == 0) return Status::success();
  const std::size_t m = pending_[0].size() / rows;
  const auto threads = static_cast<std::size_t>(std::max(1, options_.output.jobs));
  const std::size_t blocks = std::min(threads, rows);
  const std::size_t block_rows = (rows + blocks - 1) / blocks;
  // Block b of matrix k at texts[k * blocks + b].
  std::vector<std::string> texts(3 * blocks);
  std::atomic<std::size_t> next{0};
  const auto format = [&] {
    std::string line;
    for (std::size_t task = next++; task < texts.size(); task = next++) {
      const std::size_t k = task / blocks, first = (task % blocks) * block_rows;
      std::string& text = texts[task];
      for (std::size_t r = first; r < std::min(rows, first + block_rows); ++r) {
        append_row(line, pending_time_[r], std::span<const float>(pending_[k]).subspan(r * m, m));
        text += line;
      }
    }
  };
  {
    std::vector<std::jthread> helpers;
    for (std::size_t t = 1; t < std::min(threads, texts.size()); ++t) helpers.emplace_back(format);
    format();
  }
  pending_time_.clear();
  for (auto& values : pending_) values.clear();
  bool written = true;
  for (std::size_t task = 0; task < texts.size(); ++task) {
    written = files_[task / blocks]->write(texts[task]) && written;
  }
  return written ? Status::success() : write_failure();
}

// The reason of the first file whose writing failed, which ends the run.
Status EvolveRun::write_failure() {
  std::string error = "cannot write the files of " + stem_;
  for (auto& file : files_)
    if (!file->commit(error)) break;
  return Status::failure(error);
}

void EvolveRun::run(const input::SeriesTable& table, std::size_t index) {
  SeriesResult& result = result_.series;
  std::string error;
  input::ChosenSeries chosen;
  if (Status status = input::choose_series(table, index, chosen); !status) {
    fail(status.message);
    return;
  }
  // The summary's dt for windows on the record's times: the series' mean
  // step (their grid's step is median_step).
  const float mean_step = chosen.dt;
  // The method --sampling asks for, with analyse's warnings and refusals
  // (not that of gaps over most of the span: each window has its own).
  const api::SamplingChoice choice = api::sampling_choice(options_.analysis.sampling);
  const auto warn = [&result](std::string_view line) {
    result.warnings.emplace_back(line);
    result.notes.push_back(api::note_text(line));
  };
  if (Status loaded = api::load_series(series_, std::move(chosen), choice, warn,
                                       api::SpanWarning::left_out);
      !loaded) {
    fail(loaded.message);
    return;
  }
  const api::SpectrumMethod method = series_.method;
  // The missing-data and uneven methods: windows of whole median steps on
  // the record's own times. The others: windows of values, evenly spaced
  // (at the mean step, or interpolated to the median one).
  result_.on_times = method == api::SpectrumMethod::gaps || method == api::SpectrumMethod::uneven;
  result.npts = static_cast<int>(series_.y.size());
  result.dt = result_.on_times ? mean_step : series_.dt;
  result.first_time = series_.time_single.empty()
                          ? series_.time.front()
                          : std::stod(number_text(series_.time_single.front()));
  double dt = result_.on_times ? series_.sampling.median_step : series_.dt;
  if (method == api::SpectrumMethod::gaps && series_.grid.back() > 0) {
    // The grid's step as the missing-data spectrum of analyse takes it, in
    // double precision for the windows' times.
    dt = (series_.time.back() - series_.time.front()) / static_cast<double>(series_.grid.back());
  }
  result_.grid_step = dt;
  result_.sampling = api::sampling_class_name(series_.sampling.kind);
  if (choice != api::SamplingChoice::automatic) result_.method = api::method_name(method);
  const long window = std::lround(static_cast<double>(options_.windows.window) / dt);
  const long step = std::lround(static_cast<double>(options_.windows.step) / dt);
  const auto clamp = [](long v) { return static_cast<int>(std::clamp(v, 0L, 2147483647L)); };
  result_.window = clamp(window);
  result_.step = clamp(step);

  // Every window has the settings analyse gives a stretch of that length.
  api::AnalysisRecord& r = result.settings;
  r.title = series_.title;
  const std::size_t length =
      std::min(series_.y.size(), static_cast<std::size_t>(std::max(result_.window, 2)));
  std::string problem =
      analysis_settings(
          std::vector<float>(series_.y.begin(), series_.y.begin() + static_cast<long>(length)),
          static_cast<float>(dt), options_.analysis, r)
          .message;
  r.y.clear();
  if (problem.empty()) problem = window_problem(result_.window, result_.step, r.nwin);
  if (!problem.empty()) {
    fail(problem);
    return;
  }
  spectral::SpecSettings settings = api::spec_settings(r);
  static_cast<spectral::SpecRefinements&>(settings) =
      api::run_refinements(options_.significance).engine;
  if (Status smoothing = api::check_derived_smoothing(r, settings); !smoothing) {
    fail(smoothing.message);
    return;
  }
  settings.cancelled = interrupted();
  const auto deliver_row = [this](const spectral::EvolutiveRow& row) { return deliver(row); };
  Status status = Status::success();
  if (result_.on_times) {
    // Enough samples for the tapers and the red-noise fit's persistence
    // estimate (10 values) unless asked otherwise.
    result_.min_samples = options_.windows.min_samples > 0 ? options_.windows.min_samples
                                                           : std::max(2 * r.nwin + 2, 10);
    const double cells = std::round((series_.time.back() - series_.time.front()) / dt) + 1.0;
    count_ = spectral::evolutive_window_count(static_cast<std::size_t>(cells), result_.window,
                                              result_.step);
    if (!open_files()) return;
    status = spectral::evolutive_on_times(
        series_.time, series_.y, series_.sampling, result_.window, result_.step,
        result_.min_samples, settings, options_.output.jobs, deliver_row,
        choice == api::SamplingChoice::uneven ? spectral::WindowMethods::all_uneven
                                              : spectral::WindowMethods::by_sampling);
  } else {
    count_ = spectral::evolutive_window_count(series_.y.size(), result_.window, result_.step);
    if (!open_files()) return;
    status = spectral::evolutive_spectrum(series_.y, result_.window, result_.step, settings,
                                          options_.output.jobs, deliver_row);
  }
  if (status) status = write_pending();
  if (!status) {
    fail(status.message);
    return;
  }
  for (std::size_t k = 0; k < files_.size(); ++k) {
    if (!files_[k]->commit(error)) {
      fail(error);
      return;
    }
    result.files.push_back(stem_ + "." + kKinds[k] + ".csv");
  }
  result.analysed = true;
  result.ok = true;
  if (!heat_map_ || interruption() != 0) return;

  const std::string& format = options_.output.plots;
  const std::string name = stem_ + ".evolutive." + format;
  display::HeatMapInput input;
  std::string title = series_.title;
  while (!title.empty() && title.back() == ' ') title.pop_back();
  input.title = fmt::format("{}: window {}, step {}", title, options_.windows.window, options_.windows.step);
  input.map = heat_map_.get();
  input.first_time = result_.windows.front().time;
  input.last_time = result_.windows.back().time;
  input.first_frequency = first_frequency_;
  input.last_frequency = last_frequency_;
  input.time_label = "time (window centre)";
  input.frequency_label = "frequency";
  input.value_label = options_.windows.show_ratio ? "log10 spectrum / background" : "log10 power";
  input.track_time = track_time_;
  input.track_frequency = track_frequency_;
  if (!display::draw_heat_map_file(input, display::file_device(format), folder_ + "/" + name,
                                   error)) {
    fail("plot " + name + " not drawn: " + error);
    return;
  }
  result.files.push_back(name);
}

Json evolve_summary(const Options& o, const std::vector<EvolveResult>& results,
                    const input::SeriesTable& table) {
  Json summary = summary_header("evolve");
  summary["input"] = input_json(o.input);
  add_reading(summary["input"], table);
  Json settings;
  settings["window"] = json_number(o.windows.window);
  settings["step"] = json_number(o.windows.step);
  settings["show"] = o.windows.show_ratio ? "ratio" : "power";
  settings["plots"] = o.output.plots;
  const SignificanceOptions& g = o.significance;
  add_refinements(settings, g);
  summary["settings"] = settings;
  Json list = Json::array();
  for (const EvolveResult& e : results) {
    const SeriesResult& s = e.series;
    Json block = series_head(s);
    if (s.npts > 0) {
      block["npts"] = s.npts;
      block["dt"] = json_number(s.dt);
      block["first_time"] = s.first_time;
    }
    if (s.settings.npts > 0) {
      // The record's class where its windows are on its own times or
      // --sampling chose their analysis, with that analysis.
      if (e.on_times || !e.method.empty()) block["sampling"] = e.sampling;
      if (!e.method.empty()) block["method"] = e.method;
      if (e.on_times) {
        // Counted in median steps, which need not hold one value each.
        block["median_step"] = json_number(static_cast<float>(e.grid_step));
        block["window"] = {{"steps", e.window},
                           {"time", json_number(static_cast<float>(e.window * e.grid_step))}};
        block["step"] = {{"steps", e.step},
                         {"time", json_number(static_cast<float>(e.step * e.grid_step))}};
        block["min_samples"] = e.min_samples;
      } else {
        block["window"] = {{"values", e.window},
                           {"time", json_number(static_cast<float>(e.window) * s.dt)}};
        block["step"] = {{"values", e.step},
                         {"time", json_number(static_cast<float>(e.step) * s.dt)}};
      }
      block["settings"] = series_settings_json(s.settings);
      block["bandwidth"] = json_number(s.settings.bndwdth);
      block["tracks_level"] =
          json_number(api::level_percent(std::clamp(s.settings.isiglev, 1, 6)));
    }
    if (s.analysed) {
      block["window_count"] = e.windows.size();
      if (e.on_times) {
        block["methods"] = {{"even", e.methods[0]}, {"gaps", e.methods[1]},
                            {"uneven", e.methods[2]}};
        block["plans_reused"] = e.methods[1] + e.methods[2] - e.patterns.size();
        Json empty = Json::array();
        for (const EmptyWindow& w : e.empty) {
          empty.push_back({{"window", w.window + 1},
                           {"time", json_number(w.time)},
                           {"samples", w.samples},
                           {"reason", w.reason}});
        }
        block["empty_windows"] = empty;
      }
      block["track_count"] = e.tracks;
      Json windows = Json::array();
      for (const WindowLines& w : e.windows) {
        Json lines = Json::array();
        for (float f : w.frequencies) lines.push_back(json_number(f));
        windows.push_back({{"time", json_number(w.time)}, {"lines", lines}});
      }
      block["windows"] = windows;
    }
    if (!s.notes.empty()) block["notes"] = s.notes;
    block["files"] = s.files;
    list.push_back(block);
  }
  summary["series"] = list;
  return summary;
}

}  // namespace

ParseOutcome parse_evolve(const std::vector<std::string>& args, Options& options,
                          std::ostream& out, std::ostream& err, const api::Vocabulary& table) {
  CLI::App app{"Multitaper spectra of a moving window", "quorvane evolve"};
  app.set_help_flag("-h,--help", "Show every option with its default");
  app.get_formatter()->column_width(34);
  add_options(app, api::kEvolve, options, table);
  const std::string program = "quorvane evolve";
  const ParseOutcome outcome = parse_arguments(app, args, program, evolve_help, out, err);
  if (!outcome.run) return outcome;
  if (Status contradicting = contradiction(options); !contradicting)
    return usage_error(program, contradicting.message, err);
  return {true, 0};
}

int run_evolve(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  Options options;
  const ParseOutcome outcome = parse_evolve(args, options, out, err);
  if (!outcome.run) return outcome.exit_status;
  CommandFrame frame("quorvane evolve", err);
  input::SeriesTable table;
  std::vector<std::size_t> chosen;
  std::vector<std::string> stems;
  if (!frame.start(options.input, options.output, table, chosen, stems)) return frame.exit_status();
  const std::string& folder = options.output.out;
  // Series one after another, each with every job on its windows.
  std::vector<EvolveResult> results(chosen.size());
  int status = frame.run_series(
      table, chosen, [&](std::size_t i) -> SeriesResult& { return results[i].series; },
      [&](std::size_t i) {
        EvolveRun(options, folder, stems[i], results[i]).run(table, chosen[i]);
      });
  if (frame.exit_status() != kAllAnalysed) return frame.exit_status();
  status = frame.write_summary(folder, summary_dump(evolve_summary(options, results, table)), status);
  if (frame.exit_status() != kAllAnalysed) return frame.exit_status();
  if (!options.output.quiet) {
    for (const auto& result : results) {
      if (!result.series.ok) continue;
      out << fmt::format("{}: {} windows of {} values, {} track points, {} files in {}\n",
                         result.series.name, result.windows.size(), result.window, result.tracks,
                         result.series.files.size(), folder);
    }
  }
  out.flush();
  return status;
}

}  // namespace quorvane::cli

#include "cli/ensemble_command.h"

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <ostream>
#include <sstream>

#include "api/ensemble.h"
#include "cli/batch.h"
#include "cli/command_frame.h"
#include "cli/files.h"
#include "cli/interrupt.h"
#include "cli/netcdf_file.h"
#include "cli/series_run.h"
#include "cli/summary.h"
#include "display/ensemble_plot.h"
#include "display/plot_file.h"
#include "input/age_table.h"
#include "input/series_file.h"

namespace quorvane::cli {

namespace {

const char* kProgram = "quorvane ensemble";

// What one series gave, for the summary.
struct EnsembleSeries {
  SeriesResult series;  // name, status, settings, files, notes
  std::string age_model;
  std::string matched;  // how the ensemble file met the values: "depth" or "row"
  int members = 0, refused = 0, samples = 0;
  double span = 0.0;
  float dt = 0.0f, bandwidth = 0.0f;
  double lines_level = 0.0;
  std::vector<EnsembleLine> lines;
};

// The tables of the age model, read once for every series.
struct AgeInput {
  input::NumberTable ensemble, tiepoints;
};

std::string ensemble_help(const CLI::App& app) {
  std::ostringstream text;
  text << "quorvane ensemble: spectra of a record under the uncertainty of its age model\n\n"
       << "Usage:\n"
       << "  quorvane ensemble FILE --layout L --ensemble AGES.csv [options]\n"
       << "  quorvane ensemble FILE --layout L --age-model counted [--miscount P] [options]\n"
       << "  quorvane ensemble FILE --layout L --age-model tiepoints --tiepoints TIES.csv "
          "[options]\n\n"
       << "Every member is one chronology of the record: the values are analysed on its ages\n"
       << "with the multitaper Lomb-Scargle method, all members on the frequency grid of the\n"
       << "span they share. Per frequency the files give the quantiles of the estimate over\n"
       << "the members and the fractions of members in which it passes its own levels; the\n"
       << "peaks file lists the F-test's lines found in at least --agreement of the members\n"
       << "with the spread of their frequency. Members whose ages do not strictly increase\n"
       << "are left out and counted.\n"
       << "Exit status: 0 every series done, 1 some failed, 2 usage error or the --out folder in\n"
       << "use by another run (see --wait).\n"
       << "Interrupted by SIGINT or SIGTERM: 130 or 143, with the completed files kept.\n\n"
       << app.help("", CLI::AppFormatMode::Sub);
  return text.str();
}

Status age_model_of(const Options& o, const AgeInput& tables, const input::ChosenSeries& series,
                    AgeModel& model, std::string& matched) {
  const api::AgeModelOptions& e = o.ensemble;
  const std::uint64_t seed = o.significance.seed;
  if (e.model == "counted") {
    return api::counted_model(series.time, e.miscount, e.miscount,
                              static_cast<std::size_t>(e.members), seed, model);
  }
  if (e.model == "tiepoints") {
    std::vector<double> depth, age, sigma;
    for (const auto& row : tables.tiepoints.rows) {
      depth.push_back(row[0]);
      age.push_back(row[1]);
      sigma.push_back(row[2]);
    }
    Status made = api::tiepoint_model(series.time, depth, age, sigma,
                                      static_cast<std::size_t>(e.members), seed, model);
    if (made) model.description = "tiepoints " + e.tiepoints + ": " + model.description;
    return made;
  }
  bool by_row = false;
  if (Status status = input::match_ensemble(tables.ensemble, series.time, model.members,
                                            model.ages, by_row);
      !status)
    return status;
  model.samples = series.time.size();
  model.description = "file " + e.file;
  model.seed = 0;
  matched = by_row ? "row" : "depth";
  return Status::success();
}

class EnsembleRun {
 public:
  EnsembleRun(const Options& options, const AgeInput& tables, const std::string& folder,
              const std::string& stem, EnsembleSeries& result)
      : options_(options), tables_(tables), folder_(folder), stem_(stem), result_(result) {}

  void run(const input::SeriesTable& table, std::size_t index);

 private:
  bool fail(std::string message) {
    result_.series.ok = false;
    result_.series.message = std::move(message);
    return false;
  }
  bool write_table(const Ensemble& e);
  bool write_peaks(const Ensemble& e);
  bool draw(const Ensemble& e);

  const Options& options_;
  const AgeInput& tables_;
  const std::string& folder_;
  const std::string& stem_;
  EnsembleSeries& result_;
};

std::vector<Column> ensemble_columns(const Ensemble& e, const std::vector<float>& period) {
  return {{"frequency", e.frequency},       {"period", period},
          {"estimate_q2.5", e.q025},        {"estimate_q25", e.q25},
          {"estimate_median", e.median},    {"estimate_q75", e.q75},
          {"estimate_q97.5", e.q975},       {"background_median", e.background},
          {"fraction_above_90", e.exceed90}, {"fraction_above_95", e.exceed95},
          {"fraction_above_99", e.exceed99}, {"fraction_F_95", e.f95},
          {"fraction_F_99", e.f99}};
}

bool EnsembleRun::write_table(const Ensemble& e) {
  std::vector<float> period(e.frequency.size());
  for (std::size_t i = 0; i < period.size(); ++i) period[i] = 1.0f / e.frequency[i];
  std::vector<Column> columns = ensemble_columns(e, period);
  std::string error;
  if (options_.output.format == "netcdf") {
    // NetCDF names take no '.', so the quantiles' names there use '_'.
    for (Column& c : columns) std::replace(c.header.begin(), c.header.end(), '.', '_');
    const std::string name = stem_ + ".ensemble.nc";
    Json attributes;
    attributes["title"] = e.name;
    attributes["age_model"] = result_.age_model;
    attributes["members"] = e.members;
    attributes["refused_members"] = e.refused;
    attributes["span"] = e.span;
    attributes["bandwidth"] = json_number(e.bandwidth);
    attributes["lines_level"] = e.lines_level;
    attributes["agreement"] = options_.ensemble.agreement;
    std::vector<double> numbers(e.member.begin(), e.member.end());
    MemberVariables members;
    if (options_.ensemble.members_out) {
      members.dimension = "member";
      members.coordinate = numbers;
      members.matrices = {{"member_estimate", e.member_power},
                          {"member_background", e.member_background},
                          {"member_F", e.member_F}};
    }
    if (!write_netcdf_atomically(folder_ + "/" + name, columns, "frequency", attributes, error,
                                 options_.ensemble.members_out ? &members : nullptr))
      return fail(error);
    result_.series.files.push_back(name);
    return true;
  }
  const std::string name = stem_ + ".ensemble.csv";
  if (!write_file_atomically(folder_ + "/" + name, csv_pieces(columns, 1), error))
    return fail(error);
  result_.series.files.push_back(name);
  return true;
}

bool EnsembleRun::write_peaks(const Ensemble& e) {
  std::string text = "frequency,period,frequency_q2.5,frequency_q97.5,frequency_sd,members,fraction\n";
  for (const EnsembleLine& line : e.lines) {
    for (float v : {line.frequency, line.period, line.lower, line.upper, line.spread}) {
      append_number_text(text, v);
      text += ',';
    }
    text += std::to_string(line.members);
    text += ',';
    append_number_text(text, line.fraction);
    text += '\n';
  }
  const std::string name = stem_ + ".ensemble-peaks.csv";
  std::string error;
  if (!write_file_atomically(folder_ + "/" + name, text, error)) return fail(error);
  result_.series.files.push_back(name);
  return true;
}

bool EnsembleRun::draw(const Ensemble& e) {
  const std::string name = stem_ + ".ensemble." + options_.output.plots;
  display::EnsemblePlotInput input;
  input.title = fmt::format("{}: {} members", e.name, e.members);
  input.frequency = e.frequency;
  input.median = e.median;
  input.lower = e.q025;
  input.upper = e.q975;
  input.background = e.background;
  input.fraction95 = e.exceed95;
  input.fraction_f95 = e.f95;
  std::string error;
  if (!display::draw_ensemble_file(input, display::file_device(options_.output.plots),
                                   folder_ + "/" + name, error))
    return fail("plot " + name + " not drawn: " + error);
  result_.series.files.push_back(name);
  return true;
}

void EnsembleRun::run(const input::SeriesTable& table, std::size_t index) {
  SeriesResult& result = result_.series;
  input::ChosenSeries series;
  if (Status chosen = input::choose_series(table, index, series); !chosen) {
    fail(chosen.message);
    return;
  }
  result.npts = static_cast<int>(series.y.size());
  result.dt = series.dt;
  result.first_time = series.time.front();
  AgeModel model;
  if (Status status = age_model_of(options_, tables_, series, model, result_.matched); !status) {
    fail(status.message);
    return;
  }
  result_.age_model = model.description;
  result_.samples = static_cast<int>(model.samples);
  api::EnsembleRequest request;
  request.agreement = options_.ensemble.agreement;
  request.members = options_.ensemble.members_out && options_.output.format == "netcdf";
  request.jobs = options_.output.jobs;
  request.cancelled = interrupted();
  Ensemble e;
  std::string name = series.title;
  while (!name.empty() && name.back() == ' ') name.pop_back();
  if (Status status = api::run_ensemble(name, series.y, model, options_.analysis,
                                        options_.significance, api::Naming::options, request, e,
                                        result.settings);
      !status) {
    fail(status.message);
    return;
  }
  result_.members = e.members;
  result_.refused = e.refused;
  result_.span = e.span;
  result_.dt = e.dt;
  result_.bandwidth = e.bandwidth;
  result_.lines_level = e.lines_level;
  result_.lines = e.lines;
  result.notes = e.notes;
  if (!write_table(e) || !write_peaks(e)) return;
  result.analysed = true;
  result.ok = true;
  if (options_.output.plots != "none" && interruption() == 0) draw(e);
}

Json ensemble_summary(const Options& o, const std::vector<EnsembleSeries>& results,
                      const input::SeriesTable& table) {
  Json summary = summary_header("ensemble");
  summary["input"] = input_json(o.input);
  add_reading(summary["input"], table);
  Json settings;
  const api::AgeModelOptions& e = o.ensemble;
  Json model;
  if (e.model.empty()) {
    model["kind"] = "file";
    model["file"] = e.file;
  } else {
    model["kind"] = e.model;
    if (e.model == "counted") {
      model["missed_layer_probability"] = e.miscount;
      model["doubled_layer_probability"] = e.miscount;
      model["layer"] = "one unit of age";
    } else {
      model["tiepoints"] = e.tiepoints;
      model["draws"] = "Gaussian at each tie point, sorted, linear interpolation in depth";
    }
    model["members"] = e.members;
    model["seed"] = o.significance.seed;
  }
  settings["age_model"] = model;
  settings["agreement"] = e.agreement;
  settings["format"] = o.output.format;
  settings["members_out"] = e.members_out;
  settings["plots"] = o.output.plots;
  const SignificanceOptions& g = o.significance;
  add_refinements(settings, g);
  summary["settings"] = settings;
  Json list = Json::array();
  for (const EnsembleSeries& r : results) {
    const SeriesResult& s = r.series;
    Json block = series_head(s);
    if (s.npts > 0) block["npts"] = s.npts;
    if (!r.age_model.empty()) block["age_model"] = r.age_model;
    if (!r.matched.empty()) block["matched_by"] = r.matched;
    if (s.analysed) {
      block["members"] = r.members;
      block["refused_members"] = r.refused;
      block["span"] = r.span;
      block["dt"] = json_number(r.dt);
      block["settings"] = series_settings_json(s.settings);
      block["bandwidth"] = json_number(r.bandwidth);
      block["lines_level"] = r.lines_level;
      Json lines = Json::array();
      for (const EnsembleLine& line : r.lines) {
        lines.push_back({{"frequency", json_number(line.frequency)},
                         {"period", json_number(line.period)},
                         {"frequency_sd", json_number(line.spread)},
                         {"fraction", json_number(line.fraction)}});
      }
      block["lines"] = lines;
    }
    if (!s.notes.empty()) block["notes"] = s.notes;
    block["files"] = s.files;
    list.push_back(block);
  }
  summary["series"] = list;
  return summary;
}

// The age model's options that contradict one another, or empty.
std::string age_model_problem(const api::AgeModelOptions& e, bool seed_given) {
  if (e.file.empty() == e.model.empty())
    return "give either --ensemble FILE or --age-model counted|tiepoints";
  if (e.model == "tiepoints" && e.tiepoints.empty())
    return "--age-model tiepoints needs --tiepoints FILE";
  if (e.model != "tiepoints" && !e.tiepoints.empty())
    return "--tiepoints is for --age-model tiepoints";
  if (e.model.empty() && seed_given) return "--seed is for a generated --age-model";
  return {};
}

}  // namespace

ParseOutcome parse_ensemble(const std::vector<std::string>& args, Options& options,
                            std::ostream& out, std::ostream& err, const api::Vocabulary& table) {
  CLI::App app{"Spectra under age-model uncertainty", kProgram};
  app.set_help_flag("-h,--help", "Show every option with its default");
  app.get_formatter()->column_width(34);
  add_options(app, api::kEnsemble, options, table);
  const ParseOutcome outcome = parse_arguments(app, args, kProgram, ensemble_help, out, err);
  if (!outcome.run) return outcome;
  if (std::string problem = age_model_problem(options.ensemble, options.significance.seed_given);
      !problem.empty())
    return usage_error(kProgram, problem, err);
  // The seed is the age model's here, not a Monte Carlo setting.
  options.significance.seed_given = false;
  if (Status contradicting = contradiction(options); !contradicting)
    return usage_error(kProgram, contradicting.message, err);
  return {true, 0};
}

int run_ensemble_command(const std::vector<std::string>& args, std::ostream& out,
                         std::ostream& err) {
  Options options;
  const ParseOutcome outcome = parse_ensemble(args, options, out, err);
  if (!outcome.run) return outcome.exit_status;
  CommandFrame frame(kProgram, err);
  AgeInput tables;
  const api::AgeModelOptions& e = options.ensemble;
  if (!e.file.empty()) {
    if (Status read = input::read_number_table(e.file, 0, tables.ensemble); !read) {
      frame.refuse(read.message);
      return frame.exit_status();
    }
  }
  if (!e.tiepoints.empty()) {
    if (Status read = input::read_number_table(e.tiepoints, 3, tables.tiepoints); !read) {
      frame.refuse(read.message);
      return frame.exit_status();
    }
  }
  input::SeriesTable table;
  std::vector<std::size_t> chosen;
  std::vector<std::string> stems;
  if (!frame.start(options.input, options.output, table, chosen, stems)) return frame.exit_status();
  const std::string& folder = options.output.out;
  // Series one after another, each with every job on its members.
  std::vector<EnsembleSeries> results(chosen.size());
  int status = frame.run_series(
      table, chosen, [&](std::size_t i) -> SeriesResult& { return results[i].series; },
      [&](std::size_t i) {
        EnsembleRun(options, tables, folder, stems[i], results[i]).run(table, chosen[i]);
      });
  if (frame.exit_status() != kAllAnalysed) return frame.exit_status();
  status = frame.write_summary(folder, summary_dump(ensemble_summary(options, results, table)),
                               status);
  if (frame.exit_status() != kAllAnalysed) return frame.exit_status();
  if (!options.output.quiet) {
    for (const auto& result : results) {
      if (!result.series.ok) continue;
      out << fmt::format("{}: {} members ({} left out), {} lines in at least {} of them, {} files "
                         "in {}\n",
                         result.series.name, result.members, result.refused, result.lines.size(),
                         options.ensemble.agreement, result.series.files.size(), folder);
    }
  }
  out.flush();
  return status;
}

}  // namespace quorvane::cli

#include "cli/summary.h"

#include <cmath>
#include <nlohmann/json.hpp>
#include <string>

#include "api/analysis.h"
#include "cli/files.h"
#include "spectral/sampling.h"

namespace quorvane::cli {

Json json_number(float value) {
  if (!std::isfinite(value)) return nullptr;
  return std::stod(number_text(value));
}

namespace {

std::string name_of(int code, std::initializer_list<const char*> names) {
  int i = 0;
  for (const char* name : names)
    if (i++ == code) return name;
  return std::to_string(code);
}

// The name of a setting, in the order of its enumerators.
template <class Enum>
std::string name_of(Enum value, std::initializer_list<const char*> names) {
  return name_of(static_cast<int>(value), names);
}

}  // namespace

Json input_json(const InputOptions& in) {
  Json block;
  block["file"] = in.file;
  block["layout"] = layout_names()[static_cast<std::size_t>(in.layout - 1)];
  Json parameters = Json::object();
  switch (in.layout) {
    case 4:
      parameters["skip"] = in.skip.value_or(0);
      break;
    case 5:
      parameters["skip"] = in.skip.value_or(0);
      parameters["columns"] = in.columns.value_or(0);
      parameters["sentinel"] = in.sentinel.value_or("*");
      break;
    case 6:
      parameters["skip"] = in.skip.value_or(0);
      parameters["per_line"] = in.per_line.value_or(12);
      parameters["multiplier"] = json_number(in.multiplier.value_or(1.0f));
      break;
    case 7:
      parameters["skip"] = in.skip.value_or(0);
      parameters["record_layout"] = in.record_layout.value_or("");
      parameters["columns"] = in.columns.value_or(0);
      break;
    case 8: {
      parameters["skip"] = in.skip.value_or(0);
      parameters["time_column"] = in.time_column ? Json(*in.time_column) : Json(nullptr);
      Json columns = Json::array();
      for (const auto& name : in.value_columns) columns.push_back(name);
      parameters["value_columns"] = in.value_columns.empty() ? Json("numeric") : columns;
      break;
    }
    default:
      break;
  }
  block["parameters"] = parameters;
  Json series = Json::array();
  for (const auto& s : in.series) series.push_back(s);
  block["series"] = in.series.empty() ? Json("all") : series;
  return block;
}

namespace {

// The run's settings that do not depend on the series.
Json settings_block(const Options& o) {
  Json block;
  const ReconOptions& r = o.recon;
  Json recon;
  switch (r.mode) {
    case ReconOptions::Mode::None:
      recon = nullptr;
      break;
    case ReconOptions::Mode::Peaks:
      recon["signals"] = "peaks";
      recon["level"] = json_number(r.level);
      break;
    case ReconOptions::Mode::Trend:
      recon["signals"] = "trend";
      break;
    case ReconOptions::Mode::Frequencies: {
      Json list = Json::array();
      for (float f : r.frequencies) list.push_back(json_number(f));
      recon["signals"] = list;
      break;
    }
  }
  if (r.mode != ReconOptions::Mode::None)
    recon["constraint"] = name_of(r.constraint, {"misfit", "norm", "slope", "rough"});
  block["reconstruction"] = recon;
  block["plots"] = o.output.plots;
  // Only where given, so that a summary without them reads as it always has.
  if (o.output.format != "csv") block["format"] = o.output.format;
  if (o.output.spectrum_band) {
    block["spectrum_band"] = {json_number(o.output.spectrum_band->first),
                              json_number(o.output.spectrum_band->second)};
  }
  block["sampling"] = sampling_names()[static_cast<std::size_t>(o.analysis.sampling)];
  const SignificanceOptions& g = o.significance;
  Json significance;
  significance["levels"] = g.montecarlo ? "montecarlo" : "chisquare";
  if (g.montecarlo) {
    significance["surrogates"] = g.surrogates;
    significance["seed"] = g.seed;
  }
  add_refinements(significance, g);
  significance["jackknife"] = g.jackknife;
  significance["max_peaks"] = g.max_peaks;
  block["significance"] = significance;
  // Further groups of settings join here as blocks of their own.
  return block;
}

}  // namespace

void add_reading(Json& input, const input::SeriesTable& table) {
  if (table.iform == 8 || !table.skipped_columns.empty()) {
    Json skipped = Json::array();
    for (const auto& column : table.skipped_columns)
      skipped.push_back({{"name", column.name}, {"reason", column.reason}});
    input["skipped_columns"] = skipped;
  }
  if (!table.notes.empty()) input["notes"] = table.notes;
}

void add_lines(Json& block, const SeriesResult& s) {
  if (s.first_line == 0) return;
  block["first_line"] = s.first_line;
  block["last_line"] = s.last_line;
}

Json series_settings_json(const api::AnalysisRecord& r) {
  Json block;
  block["resolution"] = r.p;
  block["tapers"] = r.nwin;
  block["band"] = {json_number(r.fmin), json_number(r.fmax)};
  block["noise"] = name_of(r.noise, {"red", "white", "local"});
  block["background"] = name_of(r.background, {"raw", "robust"});
  block["smoothing"] = json_number(r.fsmooth);
  block["fit"] = name_of(r.fit, {"linear", "log"});
  block["signal"] = name_of(r.signal_assumption, {"both", "narrowband", "harmonic"});
  block["estimate"] = name_of(r.estimate, {"adaptive", "hires"});
  block["normalize"] = name_of(r.normalize, {"none", "n", "dt", "density"});
  block["reshape"] = r.reshape ? Json(json_number(r.siglev)) : Json("off");
  return block;
}

namespace {

// How the series is sampled and which analysis its spectrum had.
Json sampling_block(const api::AnalysisRecord& r) {
  Json block;
  block["class"] = api::sampling_class_name(r.sampling.kind);
  block["method"] = api::method_name(r.method);
  block["median_step"] = r.sampling.median_step;
  block["missing"] = r.sampling.missing;
  block["reversed"] = r.sampling.reversed;
  // The class is decided by whether largest_offset exceeds tolerance.
  block["tolerance"] = spectral::kStepTolerance;
  block["largest_offset"] = r.sampling.largest_offset;
  return block;
}

Json series_block(const SeriesResult& s) {
  Json block = series_head(s);
  if (s.npts > 0) {
    block["npts"] = s.npts;
    block["dt"] = json_number(s.dt);
    block["sampling"] = sampling_block(s.settings);
    block["first_time"] = s.first_time;
    block["settings"] = series_settings_json(s.settings);
    block["bandwidth"] = json_number(s.settings.bndwdth);
  }
  if (s.analysed) {
    block["rho"] = json_number(s.rho);
    Json peaks = Json::array();
    for (const auto& p : s.peaks) {
      Json peak;
      peak["frequency"] = json_number(p.frequency);
      peak["period"] = json_number(p.period);
      peak["significance"] = json_number(p.significance);
      peak["ratio"] = json_number(p.ratio);
      peak["F"] = json_number(p.F);
      peak["trend"] = p.trend;
      if (s.montecarlo) peak["global_significance"] = json_number(p.global_significance);
      peak["line_frequency"] = json_number(p.line_frequency);
      peak["line_F"] = json_number(p.line_F);
      peak["line_significance"] = json_number(p.line_significance);
      peak["line_frequency_sd"] = json_number(p.line_frequency_sd);
      peaks.push_back(peak);
    }
    block["peaks"] = peaks;
    if (!s.reconstructed.empty()) {
      Json list = Json::array();
      for (float f : s.reconstructed) list.push_back(json_number(f));
      block["reconstructed"] = list;
    }
  }
  if (!s.notes.empty()) block["notes"] = s.notes;
  block["files"] = s.files;
  return block;
}

}  // namespace

Json spectrum_attributes(const Options& options, const SeriesResult& s) {
  Json attributes;
  attributes["program"] = "quorvane";
  attributes["version"] = QUORVANE_VERSION;
  attributes["input"] = input_json(options.input);
  attributes["series"] = s.name;
  attributes["number"] = s.number;
  attributes["npts"] = s.npts;
  attributes["dt"] = json_number(s.dt);
  attributes["sampling"] = sampling_block(s.settings);
  attributes["first_time"] = s.first_time;
  attributes["bandwidth"] = json_number(s.settings.bndwdth);
  attributes["rho"] = json_number(s.rho);
  Json settings = settings_block(options);
  settings.update(series_settings_json(s.settings));
  attributes["settings"] = settings;
  return attributes;
}

Json series_head(const SeriesResult& s) {
  Json block;
  block["name"] = s.name;
  block["number"] = s.number;
  block["status"] = s.ok ? "ok" : "failed";
  if (!s.ok) block["message"] = s.message;
  add_lines(block, s);
  return block;
}

void add_refinements(Json& block, const SignificanceOptions& g) {
  block["median_bias_correction"] = g.median_bias_correction;
  block["concentrations"] = g.exact_concentrations ? "exact" : "asymptotic";
  block["pad"] = g.pad;
}

Json summary_header(const std::string& command) {
  Json summary;
  summary["program"] = "quorvane";
  summary["version"] = QUORVANE_VERSION;
  if (!command.empty()) summary["command"] = command;
  return summary;
}

std::string summary_dump(const Json& summary) {
  // Series names and file names come from the input file byte for byte and
  // need not be UTF-8; such bytes are shown as U+FFFD rather than refused.
  return summary.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::string summary_text(const Options& options, const std::vector<SeriesResult>& results,
                         const input::SeriesTable& table) {
  Json summary = summary_header();
  summary["input"] = input_json(options.input);
  add_reading(summary["input"], table);
  summary["settings"] = settings_block(options);
  Json series = Json::array();
  for (const auto& result : results) series.push_back(series_block(result));
  summary["series"] = series;
  return summary_dump(summary);
}

}  // namespace quorvane::cli

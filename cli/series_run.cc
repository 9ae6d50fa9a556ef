#include "cli/series_run.h"

#include <fmt/format.h>

#include <array>
#include <cmath>

#include "display/plot_data.h"
#include "display/plot_file.h"
#include "driver/analysis.h"
#include "input/series_file.h"

namespace quorvane::cli {

namespace {

using driver::AnalysisRecord;

// Significance levels in percent, by isiglev 1..6.
constexpr std::array<float, 6> kLevels = {50.0f, 90.0f, 95.0f, 99.0f, 99.5f, 99.9f};

// Selects the reconstruction of `recon` in the signals list; returns the
// reason when a frequency cannot be reconstructed for this series.
std::string select_signals(const ReconOptions& recon, AnalysisRecord& r) {
  r.iconstr = recon.constraint;
  const auto add = [&r](float frequency) {
    if (r.nsig >= driver::nsigmax) return false;
    const auto k = static_cast<std::size_t>(r.nsig++);
    r.sigfreq[k] = frequency;
    r.sigpct[k] = 0.0f;
    r.iuse[k] = 1;
    return true;
  };
  switch (recon.mode) {
    case ReconOptions::Mode::None:
      break;
    case ReconOptions::Mode::Peaks:
      for (int i = 0; i < r.nsig; ++i) {
        const auto k = static_cast<std::size_t>(i);
        if (r.sigfreq[k] >= r.bndwdth && r.sigpct[k] >= recon.level) r.iuse[k] = 1;
      }
      break;
    case ReconOptions::Mode::Trend:
      // Every frequency below the bandwidth reconstructs the trend.
      if (!add(0.0f)) return "the signals list is full";
      break;
    case ReconOptions::Mode::Frequencies: {
      const float nyquist = 0.5f / r.dt;
      for (float f : recon.frequencies) {
        if (f > nyquist)
          return fmt::format("--reconstruct frequency {} lies above the Nyquist frequency {}", f,
                             nyquist);
        if (!add(f))
          return fmt::format("--reconstruct: the signals list holds {} entries", driver::nsigmax);
      }
      break;
    }
  }
  return {};
}

// Whether the run has Monte Carlo levels for every band entry.
bool has_montecarlo_levels(const spectral::SpecResults& s) {
  return s.nf > 1 && s.montecarlo_conf[0].size() >= static_cast<std::size_t>(s.nf - 1);
}

std::vector<PeakRow> peak_rows(const AnalysisRecord& r) {
  const spectral::SpecResults& s = r.spectra;
  const bool band_wide = has_montecarlo_levels(s);
  std::vector<PeakRow> rows;
  for (int i = 0; i < r.nsig; ++i) {
    const auto k = static_cast<std::size_t>(i);
    PeakRow row;
    row.frequency = r.sigfreq[k];
    row.period = 1.0f / row.frequency;
    row.significance = r.sigpct[k];
    row.trend = row.frequency < r.bndwdth;
    // The list holds band entries f0 + j*df; find j back.
    const long j = std::lround((row.frequency - s.f0) / s.df);
    if (j >= 0 && j < static_cast<long>(s.specraw0.size())) {
      const auto e = static_cast<std::size_t>(j);
      row.ratio = s.specback0[e] != 0.0f ? s.specraw0[e] / s.specback0[e] : 0.0f;
      row.f = s.ftest[e];
    }
    if (band_wide) {
      row.global_significance = row.ratio >= s.global_conf[1]   ? 99.0f
                                : row.ratio >= s.global_conf[0] ? 95.0f
                                                                : 0.0f;
    }
    rows.push_back(row);
  }
  return rows;
}

std::vector<Column> peak_columns(const std::vector<PeakRow>& peaks, bool band_wide) {
  std::vector<Column> columns = {{"frequency", {}}, {"period", {}}, {"significance", {}},
                                 {"ratio", {}},     {"F", {}},      {"trend", {}}};
  if (band_wide) columns.push_back({"global_significance", {}});
  for (const auto& p : peaks) {
    columns[0].values.push_back(p.frequency);
    columns[1].values.push_back(p.period);
    columns[2].values.push_back(p.significance);
    columns[3].values.push_back(p.ratio);
    columns[4].values.push_back(p.f);
    columns[5].values.push_back(p.trend ? 1.0f : 0.0f);
    if (band_wide) columns[6].values.push_back(p.global_significance);
  }
  return columns;
}

// The record's settings without its arrays, for the summary.
AnalysisRecord settings_of(AnalysisRecord& r) {
  AnalysisRecord arrays;
  const auto exchange = [&] {
    std::swap(arrays.y, r.y);
    std::swap(arrays.time, r.time);
    std::swap(arrays.time_single, r.time_single);
    std::swap(arrays.grid, r.grid);
    std::swap(arrays.spectra, r.spectra);
    std::swap(arrays.rsig, r.rsig);
    std::swap(arrays.signal, r.signal);
  };
  exchange();
  AnalysisRecord settings = r;
  exchange();
  return settings;
}

// The header of one reconstructed signal's column.
std::string signal_header(float frequency, float bndwdth) {
  return frequency < bndwdth ? "trend" : "f_" + number_text(frequency);
}

class SeriesRun {
 public:
  SeriesRun(const Options& options, const std::string& folder, const std::string& stem,
            SeriesResult& result)
      : options_(options), folder_(folder), stem_(stem), result_(result) {}

  void run(const input::SeriesTable& table, std::size_t index);

 private:
  bool write(const std::string& kind, const std::vector<Column>& columns);
  bool plot(const display::PlotInput& input);
  // The engine's messages begin with the dialogue's blank; the summary and
  // the error stream put their own text before them.
  bool fail(std::string message) {
    result_.ok = false;
    message.erase(0, std::min(message.find_first_not_of(' '), message.size()));
    result_.message = std::move(message);
    return false;
  }

  const Options& options_;
  const std::string& folder_;
  const std::string& stem_;
  SeriesResult& result_;
  AnalysisRecord r_;
  // The spectrum's tapers, which the reconstruction of the series uses too.
  spectral::SpecSession session_;
};

bool SeriesRun::write(const std::string& kind, const std::vector<Column>& columns) {
  const std::string name = stem_ + "." + kind + ".csv";
  std::string error;
  if (!write_file_atomically(folder_ + "/" + name, csv_pieces(columns), error)) return fail(error);
  result_.files.push_back(name);
  return true;
}

bool SeriesRun::plot(const display::PlotInput& input) {
  const std::string& format = options_.output.plots;
  const std::string device = display::file_device(format);
  if (device.empty()) return fail("this PLplot has no device that writes " + format + " files");
  const std::string name = stem_ + "_" + display::file_suffix(input.kind) + "." + format;
  std::string error;
  if (!display::draw_plot_file(input, device, folder_ + "/" + name, error))
    return fail("plot " + name + " not drawn: " + error);
  result_.files.push_back(name);
  return true;
}

void SeriesRun::run(const input::SeriesTable& table, std::size_t index) {
  input::ChosenSeries series;
  std::string error;
  if (!input::choose_series(table, index, series, error)) {
    fail(error);
    return;
  }
  AnalysisRecord& r = r_;
  const auto warn = [this](std::string_view line) {
    result_.warnings.emplace_back(line);
    result_.notes.emplace_back(line);
  };
  if (Status loaded = driver::load_series(r, std::move(series),
                                          sampling_choice(options_.analysis.sampling), warn);
      !loaded) {
    fail(loaded.message);
    return;
  }
  driver::set_defaults(r);
  result_.settings = settings_of(r);
  result_.npts = r.npts;
  result_.dt = r.dt;
  result_.first_time = r.time_single.empty() ? r.time.front()
                                             : std::stod(number_text(r.time_single.front()));

  if (std::string problem = apply_options(options_.analysis, r); !problem.empty()) {
    fail(problem);
    return;
  }
  const driver::RunRefinements refinements = run_refinements(options_.significance);
  Status status = driver::run_spectrum(
      r, [this](std::string_view line) { result_.notes.emplace_back(line); }, refinements,
      &session_);
  // One spectrum run per series: its memory is not needed again.
  session_.release_memory();
  result_.settings = settings_of(r);
  if (!status) {
    fail(status.message);
    return;
  }
  result_.analysed = true;
  result_.rho = r.spectra.rho;
  result_.peaks = peak_rows(r);
  result_.montecarlo = has_montecarlo_levels(r.spectra);
  result_.ok = true;
  if (!write("spectrum", spectrum_columns(r)) ||
      !write("peaks", peak_columns(result_.peaks, result_.montecarlo)))
    return;
  if (options_.output.plots != "none") {
    for (int kind : driver::spectrum_plot_kinds(r))
      if (!plot(driver::spectrum_plot(r, kind))) return;
  }

  if (options_.recon.mode == ReconOptions::Mode::None) return;
  if (Status possible = driver::check_reconstruction(r); !possible) {
    fail(possible.message);
    return;
  }
  if (std::string problem = select_signals(options_.recon, r); !problem.empty()) {
    fail(problem);
    return;
  }
  std::vector<Column> signals;
  status = driver::reconstruct_selected(
      r,
      [&](int entry) {
        const float f = r.sigfreq[static_cast<std::size_t>(entry)];
        result_.reconstructed.push_back(f);
        signals.push_back({signal_header(f, r.bndwdth), r.rsig});
      },
      [this](std::string_view line) { result_.notes.emplace_back(line); }, &session_);
  if (!status) {
    fail(status.message);
    return;
  }
  const display::PlotInput input = driver::reconstruction_plot(r);
  display::PlotData sum;
  display::prepare_plot_data(input, sum);
  // The times in single precision, as they have always been written, where
  // it tells them apart.
  Column time{"time", r.time_single};
  if (time.values.empty()) time.wide = r.time;
  std::vector<Column> columns = {std::move(time), {"series", r.y}, {"anomaly", sum.curves[1]}};
  for (auto& column : signals) {
    column.values.resize(r.y.size());
    columns.push_back(std::move(column));
  }
  columns.push_back({"sum", sum.curves[0]});
  if (!write("recon", columns)) return;
  if (options_.output.plots != "none") plot(input);
}

}  // namespace

std::string apply_options(const AnalysisOptions& a, AnalysisRecord& r) {
  if (a.resolution || a.tapers) {
    r.p = a.resolution.value_or(r.p);
    r.nwin = a.tapers.value_or(a.resolution ? 2 * r.p - 1 : r.nwin);
    driver::apply_resolution(r);
  }
  if (a.estimate || a.normalize || a.reshape || a.band) {
    r.iadapt = a.estimate.value_or(r.iadapt);
    r.inorm = a.normalize.value_or(r.inorm);
    if (a.reshape) {
      r.ireshape = *a.reshape == 0 ? 0 : 1;
      if (r.ireshape == 1) {
        r.isiglev = *a.reshape;
        r.siglev = kLevels[static_cast<std::size_t>(r.isiglev - 1)];
      }
    }
    if (a.band) {
      r.fmin = a.band->first;
      r.fmax = a.band->second;
    }
    driver::apply_band(r);
  }
  if (a.signal) {
    r.isignal = *a.signal;
    driver::apply_signal(r);
  }
  if (a.noise || a.background || a.smoothing || a.fit) {
    r.inoise = a.noise.value_or(r.inoise);
    r.irobust = a.background.value_or(r.irobust);
    if (r.irobust == 1 && a.smoothing) {
      const float half_range = r.frange * 0.5f;
      if (!(r.bndwdth <= *a.smoothing && *a.smoothing <= half_range)) {
        return fmt::format("--smoothing {} lies outside {} to {} (the bandwidth to half the band)",
                           *a.smoothing, r.bndwdth, half_range);
      }
      r.fsmooth = *a.smoothing;
    }
    if (r.inoise == 0) r.ilogfit = a.fit.value_or(r.ilogfit);
  }
  return {};
}

std::string analysis_settings(std::vector<float> values, float dt, const AnalysisOptions& a,
                              AnalysisRecord& r) {
  r.y = std::move(values);
  r.npts = static_cast<int>(r.y.size());
  r.dt = dt;
  driver::set_defaults(r);
  return apply_options(a, r);
}

driver::RunRefinements run_refinements(const SignificanceOptions& g) {
  driver::RunRefinements refinements;
  refinements.engine.pad = g.pad;
  refinements.engine.exact_concentrations = g.exact_concentrations;
  refinements.engine.median_bias_correction = g.median_bias_correction;
  refinements.engine.jackknife = g.jackknife;
  refinements.engine.surrogates = g.montecarlo ? g.surrogates : 0;
  refinements.engine.seed = g.seed;
  refinements.engine.jobs = g.jobs;
  refinements.max_peaks = g.max_peaks;
  return refinements;
}

std::vector<Column> spectrum_columns(const AnalysisRecord& r) {
  // The plots' own arrays, so that every column equals what the dialogue
  // draws and saves.
  std::array<display::PlotData, 4> plots;
  const std::array<int, 4> kinds = {1, 2, 3, 5};
  for (std::size_t k = 0; k < kinds.size(); ++k)
    display::prepare_plot_data(driver::spectrum_plot(r, kinds[k]), plots[k]);
  // The columns take the plots' arrays over rather than copy them: a long
  // record's spectrum has millions of entries.
  display::PlotData& raw = plots[0];
  display::PlotData& reshaped = plots[1];
  display::PlotData& median = plots[2];
  display::PlotData& ftest = plots[3];
  const std::size_t n = raw.x.size();

  std::vector<float> period(n);
  for (std::size_t i = 0; i < n; ++i) period[i] = 1.0f / raw.x[i];
  const auto band = [n](const std::vector<float>& values) {
    return std::vector<float>(values.begin(), values.begin() + static_cast<long>(n));
  };
  const auto constant = [n](float value) { return std::vector<float>(n, value); };
  const spectral::SpecResults& s = r.spectra;
  // The levels the peaks were judged by: Monte Carlo levels, one ratio per
  // entry, when the run has them; else the plot's chi-square levels.
  std::array<std::vector<float>, 4> levels;
  for (std::size_t j = 0; j < 4; ++j) {
    if (s.montecarlo_conf[j].size() >= n) {
      levels[j].resize(n);
      for (std::size_t i = 0; i < n; ++i) levels[j][i] = s.specback0[i] * s.montecarlo_conf[j][i];
    } else {
      levels[j] = std::move(raw.curves[j + 1]);
    }
  }
  const char* const level_names[4] = {"level50", "level90", "level95", "level99"};
  std::vector<Column> columns;
  columns.push_back({"frequency", std::move(raw.x)});
  columns.push_back({"period", std::move(period)});
  columns.push_back({"estimate", std::move(raw.curves[0])});
  columns.push_back({"reshaped", std::move(reshaped.curves[0])});
  columns.push_back({"harmonic", std::move(reshaped.curves[1])});
  columns.push_back({"median", std::move(median.curves[0])});
  columns.push_back({"background", band(s.specback0)});
  for (std::size_t j = 0; j < 4; ++j) columns.push_back({level_names[j], std::move(levels[j])});
  columns.push_back({"F", std::move(ftest.curves[0])});
  const char* const f_names[6] = {"F50", "F90", "F95", "F99", "F99.5", "F99.9"};
  for (std::size_t j = 0; j < 6; ++j) columns.push_back({f_names[j], constant(s.fconf[j])});
  if (s.jackknife_lower.size() >= n && s.jackknife_upper.size() >= n) {
    columns.push_back({"jackknife_lower", band(s.jackknife_lower)});
    columns.push_back({"jackknife_upper", band(s.jackknife_upper)});
  }
  // The band-wide levels: one peak above them is significant for the whole
  // band, not only at its own frequency.
  if (has_montecarlo_levels(s)) {
    const char* const global_names[2] = {"global95", "global99"};
    for (std::size_t j = 0; j < 2; ++j) {
      std::vector<float> level(n);
      for (std::size_t i = 0; i < n; ++i) level[i] = s.specback0[i] * s.global_conf[j];
      columns.push_back({global_names[j], std::move(level)});
    }
  }
  // Further per-frequency results join here as more columns of n values.
  return columns;
}

driver::SamplingChoice sampling_choice(int code) {
  switch (code) {
    case 1: return driver::SamplingChoice::even;
    case 2: return driver::SamplingChoice::gaps;
    case 3: return driver::SamplingChoice::uneven;
    case 4: return driver::SamplingChoice::interpolate;
    default: return driver::SamplingChoice::automatic;
  }
}

SeriesResult analyse_series(const input::SeriesTable& table, std::size_t index,
                            const std::string& stem, const Options& options,
                            const std::string& folder) {
  SeriesResult result;
  result.number = index + 1;
  if (index < table.series.size()) {
    result.name = table.series[index].name;
    while (!result.name.empty() && result.name.back() == ' ') result.name.pop_back();
  }
  SeriesRun(options, folder, stem, result).run(table, index);
  return result;
}

}  // namespace quorvane::cli

#include "api/results.h"

#include <fmt/format.h>

#include <array>
#include <cmath>

#include "api/analysis.h"
#include "display/plot_data.h"

namespace quorvane::api {

std::string number_text(float value) { return fmt::format("{}", value); }

bool has_montecarlo_levels(const spectral::SpecResults& s) {
  return s.nf > 1 && s.montecarlo_conf[0].size() >= static_cast<std::size_t>(s.nf - 1);
}

bool has_f_test(const AnalysisRecord& r) { return r.nwin >= 2; }

std::string f_test_note(const AnalysisRecord& r) {
  if (has_f_test(r)) return {};
  return "The harmonic F-test needs at least two tapers; with one taper F, its levels and the"
         " line columns are NaN.";
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
    if (!has_f_test(r)) row.f = spectral::LineEstimate::kNone;
    if (k < r.lines.size()) {
      const spectral::LineEstimate& line = r.lines[k];
      row.line_frequency = line.frequency;
      row.line_F = line.F;
      row.line_significance = line.significance;
      row.line_frequency_sd = line.frequency_sd;
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

std::vector<Column> spectrum_columns(const AnalysisRecord& r) {
  // The plots' own arrays, so that every column equals what the dialogue
  // draws and saves.
  std::array<display::PlotData, 4> plots;
  const std::array<int, 4> kinds = {1, 2, 3, 5};
  for (std::size_t k = 0; k < kinds.size(); ++k)
    display::prepare_plot_data(spectrum_plot(r, kinds[k]), plots[k]);
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
  // With one taper there is no F-test: its columns stay, so that readers
  // find the same columns, but hold NaN rather than a 0 that every level
  // would pass.
  const float none = spectral::LineEstimate::kNone;
  columns.push_back({"F", has_f_test(r) ? std::move(ftest.curves[0]) : constant(none)});
  const char* const f_names[6] = {"F50", "F90", "F95", "F99", "F99.5", "F99.9"};
  for (std::size_t j = 0; j < 6; ++j)
    columns.push_back({f_names[j], constant(has_f_test(r) ? s.fconf[j] : none)});
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

std::string signal_header(float frequency, float bndwdth) {
  return frequency < bndwdth ? "trend" : "f_" + number_text(frequency);
}

std::vector<Column> reconstruction_columns(const AnalysisRecord& r, Column time,
                                           std::vector<Column> signals) {
  display::PlotData sum;
  display::prepare_plot_data(reconstruction_plot(r), sum);
  const std::size_t n = time.size();
  time.header = "time";
  std::vector<Column> columns = {
      std::move(time), {"series", r.y}, {"anomaly", std::move(sum.curves[1])}};
  for (auto& column : signals) {
    column.values.resize(n);
    columns.push_back(std::move(column));
  }
  columns.push_back({"sum", std::move(sum.curves[0])});
  return columns;
}

}  // namespace quorvane::api

#include "api/results.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cmath>


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

PeakTable peak_table(const std::vector<PeakRow>& peaks, bool band_wide) {
  PeakTable table;
  table.names = {"frequency", "period", "significance", "ratio", "F", "trend"};
  if (band_wide) table.names.emplace_back("global_significance");
  for (const char* name : {"line_frequency", "line_F", "line_significance", "line_frequency_sd"})
    table.names.emplace_back(name);
  std::vector<std::vector<float>>& v = table.columns;
  v.resize(table.names.size());
  const std::size_t line = band_wide ? 7 : 6;
  for (const PeakRow& p : peaks) {
    v[0].push_back(p.frequency);
    v[1].push_back(p.period);
    v[2].push_back(p.significance);
    v[3].push_back(p.ratio);
    v[4].push_back(p.F);
    v[5].push_back(p.trend ? 1.0f : 0.0f);
    if (band_wide) v[6].push_back(p.global_significance);
    v[line].push_back(p.line_frequency);
    v[line + 1].push_back(p.line_F);
    v[line + 2].push_back(p.line_significance);
    v[line + 3].push_back(p.line_frequency_sd);
  }
  return table;
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
      row.F = s.ftest[e];
    }
    if (!has_f_test(r)) row.F = spectral::LineEstimate::kNone;
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

SpectrumTable spectrum_table(const AnalysisRecord& r) {
  const spectral::SpecResults& s = r.spectra;
  // The band's nf - 1 entries, or as many as the arrays hold.
  std::size_t n = s.nf > 1 ? static_cast<std::size_t>(s.nf - 1) : 0;
  for (const std::vector<float>* array :
       {&s.specraw0, &s.specmed0, &s.specresh0, &s.harmonic0, &s.specback0, &s.ftest})
    n = std::min(n, array->size());
  const auto band = [n](const std::vector<float>& values) {
    return std::vector<float>(values.begin(), values.begin() + static_cast<long>(n));
  };
  const auto constant = [n](float value) { return std::vector<float>(n, value); };

  SpectrumTable t;
  t.frequency.resize(n);
  t.period.resize(n);
  // The first entry lies on the transform grid, so it may differ slightly
  // from fmin.
  for (std::size_t i = 0; i < n; ++i) t.frequency[i] = s.f0 + static_cast<float>(i) * s.df;
  for (std::size_t i = 0; i < n; ++i) t.period[i] = 1.0f / t.frequency[i];
  t.estimate = band(s.specraw0);
  t.reshaped = band(s.specresh0);
  t.harmonic = band(s.harmonic0);
  t.median = band(s.specmed0);
  t.background = band(s.specback0);
  for (std::size_t k = 0; k < t.levels.size(); ++k) {
    const std::vector<float>& ratios = s.montecarlo_conf[k];
    std::vector<float>& level = t.levels[k];
    level.resize(n);
    for (std::size_t i = 0; i < n; ++i)
      level[i] = s.specback0[i] * (ratios.size() > i ? ratios[i] : s.conf[k]);
  }
  const bool f_test = has_f_test(r);
  const float none = spectral::LineEstimate::kNone;
  t.F = f_test ? band(s.ftest) : constant(none);
  for (std::size_t k = 0; k < t.F_levels.size(); ++k) {
    t.F_levels[k] = f_test ? s.fconf[k] : none;
    t.F_level_columns[k] = constant(t.F_levels[k]);
  }
  if (s.jackknife_lower.size() >= n && s.jackknife_upper.size() >= n) {
    t.jackknife_lower = band(s.jackknife_lower);
    t.jackknife_upper = band(s.jackknife_upper);
  }
  if (has_montecarlo_levels(s)) {
    for (std::size_t k = 0; k < t.global_levels.size(); ++k) {
      t.global_levels[k].resize(n);
      for (std::size_t i = 0; i < n; ++i)
        t.global_levels[k][i] = s.specback0[i] * s.global_conf[k];
    }
  }
  return t;
}

std::string signal_header(float frequency, float bndwdth) {
  return frequency < bndwdth ? "trend" : "f_" + number_text(frequency);
}

ReconstructedSignal reconstructed_signal(const AnalysisRecord& r, int entry) {
  const float f = r.sigfreq[static_cast<std::size_t>(entry)];
  return {f, signal_header(f, r.bndwdth), r.rsig};
}

ReconstructionTable reconstruction_table(const AnalysisRecord& r,
                                         std::vector<ReconstructedSignal> signals) {
  // The values the sum and the series both hold.
  const std::size_t n = std::min({static_cast<std::size_t>(std::max(r.npts, 0)), r.y.size(),
                                  r.signal.size()});
  ReconstructionTable t;
  t.time = r.time;
  t.time_single = r.time_single;
  t.series = r.y;
  t.elapsed.resize(n);
  t.anomaly.resize(n);
  for (std::size_t i = 0; i < n; ++i) t.elapsed[i] = static_cast<float>(i) * r.dt;
  for (std::size_t i = 0; i < n; ++i) t.anomaly[i] = r.y[i] - r.ymean;
  for (ReconstructedSignal& signal : signals) signal.values.resize(r.time.size());
  t.signals = std::move(signals);
  t.sum.assign(r.signal.begin(), r.signal.begin() + static_cast<long>(n));
  return t;
}

}  // namespace quorvane::api

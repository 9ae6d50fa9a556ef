// The results of one series as tables: the peaks of the signals list and
// the spectrum and reconstruction by columns, the very arrays the dialogue
// draws and saves. The command line writes them as CSV files; the public
// functions hand them to the caller.
#pragma once

#include <string>
#include <vector>

#include "api/analysis_record.h"

namespace quorvane::api {

// One entry of the peaks table.
struct PeakRow {
  float frequency = 0.0f;
  float period = 0.0f;        // 1/frequency (inf at frequency 0)
  float significance = 0.0f;  // percent: 99, 95 or 90
  float ratio = 0.0f;         // raw spectrum over the background at the peak (0 where that is 0)
  float f = 0.0f;             // harmonic F statistic at the peak
  bool trend = false;         // below the bandwidth: the secular trend
  // With Monte Carlo levels: 99 or 95 when the ratio reaches the band-wide
  // level (significant for the whole band), else 0.
  float global_significance = 0.0f;
  // The line found between the transform's bins within the peak's
  // bandwidth (see spectral::line_estimates): its frequency, F there, the
  // significance of that F in percent and the frequency's standard
  // deviation; NaN where the run has none (one taper, uneven steps).
  float line_frequency = spectral::LineEstimate::kNone;
  float line_F = spectral::LineEstimate::kNone;
  float line_significance = spectral::LineEstimate::kNone;
  float line_frequency_sd = spectral::LineEstimate::kNone;
};

// Whether the run of `r` has an F-test: it needs at least two tapers. Without
// one, F and its levels are NaN in every table.
bool has_f_test(const AnalysisRecord& r);

// The note a run without an F-test carries in the summary and the
// library's notes; empty for a run with one.
std::string f_test_note(const AnalysisRecord& r);

// Whether the run has Monte Carlo levels for every band entry (and so
// band-wide levels).
bool has_montecarlo_levels(const spectral::SpecResults& s);

// The signals list of `r` after a spectrum run, with each entry's ratio and
// F statistic looked up in the run's arrays, and its line (r.lines).
std::vector<PeakRow> peak_rows(const AnalysisRecord& r);

// One column of a table: a header and its values.
struct Column {
  std::string header;
  std::vector<float> values;
  // Values in double precision instead (such as times that single precision
  // cannot tell apart), used when `values` is empty.
  std::vector<double> wide = {};
  std::size_t size() const { return values.empty() ? wide.size() : values.size(); }
};

// The spectrum by band entry (nf - 1 rows) after a spectrum run: frequency,
// period, the estimate, reshaped, harmonic, median-smoothed and background
// spectra, the 50/90/95/99 % levels (level50 ...; Monte Carlo levels when
// the run has them), F and its levels (F50 ... F99.9; NaN with one taper), and with the
// jackknife its interval (jackknife_lower, jackknife_upper).
std::vector<Column> spectrum_columns(const AnalysisRecord& r);

// The header of one reconstructed signal's column: "trend" below the
// bandwidth, else "f_" and the frequency in its shortest exact form.
std::string signal_header(float frequency, float bndwdth);

// The reconstruction table after reconstruct_selected: `time` (the
// series' own times, one per value, headed "time"), the series, its anomaly, the `signals` columns (one per
// signal, in order, each cut or padded to the series length) and their sum.
std::vector<Column> reconstruction_columns(const AnalysisRecord& r, Column time,
                                           std::vector<Column> signals);

// The shortest decimal text that reads back as exactly `value` ("0.1",
// "1e-05", "inf", "nan").
std::string number_text(float value);

}  // namespace quorvane::api

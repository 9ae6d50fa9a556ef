// The results of one series as typed tables: the peaks of the signals list,
// the spectrum by band entry and the reconstruction by value, derived once
// from the run. The command line writes them as CSV and NetCDF files, the
// public functions hand them to the caller and the plots draw them.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "api/analysis_record.h"
#include "quorvane/spectrum.h"

namespace quorvane::api {

// One entry of the peaks table: the library's Peak, which the command
// line's files and the plots read too.
using PeakRow = quorvane::Peak;

// The peaks table by column, named and ordered as the peaks file has them
// (trend as 1 or 0; global_significance only with band-wide levels).
struct PeakTable {
  std::vector<std::string> names;
  std::vector<std::vector<float>> columns;
};
PeakTable peak_table(const std::vector<PeakRow>& peaks, bool band_wide);

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

// The spectrum of a run by band entry (nf - 1 of them; a band holds at
// least one), each array in single precision as the engine gives it and as
// every result file, the public results and the plots show it.
struct SpectrumTable {
  std::vector<float> frequency;  // f0 + i df
  std::vector<float> period;     // 1/frequency (inf at frequency 0)
  std::vector<float> estimate;   // the multitaper spectrum
  std::vector<float> reshaped;   // with the detected lines taken out
  std::vector<float> harmonic;   // the line spectrum
  std::vector<float> median;     // running median of the estimate
  std::vector<float> background;
  // The 50, 90, 95 and 99 % levels the peaks were judged by: the background
  // times the entry's Monte Carlo ratio where the run has one, else times
  // the chi-square ratio.
  std::array<std::vector<float>, 4> levels;
  // The harmonic F statistic and its 50, 90, 95, 99, 99.5 and 99.9 % levels;
  // NaN without an F-test (one taper) rather than a 0 that every level
  // would pass.
  std::vector<float> F;
  std::array<float, 6> F_levels{};
  // The same levels once per band entry, as a table's columns hold them.
  std::array<std::vector<float>, 6> F_level_columns;
  // With the jackknife, the 95 % interval of the estimate; else empty.
  std::vector<float> jackknife_lower, jackknife_upper;
  // With Monte Carlo levels, the band-wide 95 and 99 % levels (one peak
  // above them is significant for the whole band, not only at its own
  // frequency); else empty.
  std::array<std::vector<float>, 2> global_levels;
};

// The table of the last spectrum run of `r`.
SpectrumTable spectrum_table(const AnalysisRecord& r);

// The header of one reconstructed signal's column: "trend" below the
// bandwidth, else "f_" and the frequency in its shortest exact form.
std::string signal_header(float frequency, float bndwdth);

// One reconstructed signal: its frequency, its column's header and its
// values.
struct ReconstructedSignal {
  float frequency = 0.0f;
  std::string name;
  std::vector<float> values;
};

// The signal of list entry `entry` as reconstruct_selected has just left it
// in r.rsig (for its each_signal callback).
ReconstructedSignal reconstructed_signal(const AnalysisRecord& r, int entry);

// The reconstruction of a series by value, after reconstruct_selected.
struct ReconstructionTable {
  std::vector<double> time;         // the series' own times
  std::vector<float> time_single;   // the same in single precision where it tells them apart, else empty
  std::vector<float> elapsed;       // the time since the first value, i dt
  std::vector<float> series;        // the values
  std::vector<float> anomaly;       // the values less their mean
  std::vector<ReconstructedSignal> signals;  // in list order, one value per time each
  std::vector<float> sum;           // the sum of the signals
};

// The reconstruction table of `r` with `signals` (each cut or padded to the
// series length).
ReconstructionTable reconstruction_table(const AnalysisRecord& r,
                                         std::vector<ReconstructedSignal> signals);

// The shortest decimal text that reads back as exactly `value` ("0.1",
// "1e-05", "inf", "nan").
std::string number_text(float value);

}  // namespace quorvane::api

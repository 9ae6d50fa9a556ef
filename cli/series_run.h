// The analysis of one series of the file without questions: the settings of
// the options applied the way the dialogue's menus apply them, the spectrum
// run, the peak list, the reconstruction asked for, and the result files.
#pragma once

#include <string>
#include <vector>

#include "cli/files.h"
#include "cli/options.h"
#include "api/analysis_record.h"
#include "api/results.h"
#include "input/series_table.h"

namespace quorvane::cli {

// One entry of the peaks file.
using api::PeakRow;

// What one series gave; everything the summary reports about it.
struct SeriesResult {
  std::string name;        // the series name, trailing blanks dropped
  std::size_t number = 0;  // 1-based position in the file
  bool ok = false;
  std::string message;             // why it failed
  std::vector<std::string> notes;     // the engine's diagnostic lines and the warnings
  std::vector<std::string> warnings;  // what changes the meaning of the results
  bool analysed = false;              // the values below are filled
  int npts = 0;
  float dt = 0.0f;
  // The first time: the double whose shortest text is that of the single
  // precision time where single precision tells the times apart (so it
  // reads as it always has), else the double time.
  double first_time = 0.0;
  // The file lines of the first and last value, for the layouts whose
  // values carry their lines (two and multiple columns, csv); 0 otherwise.
  std::size_t first_line = 0, last_line = 0;
  // settings members only: those used, with the sampling and method
  api::AnalysisRecord settings;
  bool montecarlo = false;  // the peaks carry band-wide significances
  float rho = 0.0f;
  std::vector<PeakRow> peaks;
  std::vector<float> reconstructed;  // frequencies reconstructed, in order
  std::vector<std::string> files;    // written, relative to the output folder
};

// Analyses series `index` (0-based) of `table` with `options` and writes its
// files into `folder` as <stem>.spectrum.csv, <stem>.peaks.csv,
// <stem>.recon.csv (when asked) and the plots (when asked). Files are
// written only for a series whose spectrum ran; a failure later (a file that
// cannot be written, a frequency the series cannot hold) keeps the files
// already written and marks the series failed. Safe to call from several
// threads for different series.
SeriesResult analyse_series(const input::SeriesTable& table, std::size_t index,
                            const std::string& stem, const Options& options,
                            const std::string& folder);

// The settings analyse gives the series `values` with time step dt (at
// least 2 values, dt > 0): r takes the values, its defaults are set for
// them (api::set_defaults) and the options applied (api::apply_options).
// Returns apply_options' refusal when an option does not suit the series.
Status analysis_settings(std::vector<float> values, float dt, const AnalysisOptions& options,
                         api::AnalysisRecord& r);

}  // namespace quorvane::cli

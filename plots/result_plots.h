// The result plots of one series: which of them a run draws, and each
// plot's curves taken from the fields of the result tables, so that a plot
// shows exactly the numbers its files hold. The dialogue and the command
// line both draw through these; the tables know nothing of plotting.
#pragma once

#include <vector>

#include "api/analysis_record.h"
#include "api/results.h"
#include "display/display.h"

namespace quorvane::plots {

// Which spectrum plots a run draws: the dialogue's display toggles (1 on,
// 0 off), all on for a new series.
struct PlotChoice {
  int raw = 1;        // the estimate with its levels (drawn only with `levels` on too)
  int reshaped = 1;   // the reshaped and harmonic spectra
  int median = 1;     // the median-smoothed spectrum
  int levels = 1;     // the 50/90/95/99 % levels
  int f_test = 1;     // the F statistic with its levels
};

// The choice after the signal assumption `isignal` was set: a harmonic
// analysis (2) judges its peaks by the F-test alone, so its median and
// level plots are turned off.
void follow_signal(PlotChoice& choice, int isignal);

// The spectrum plots `choice` draws, in drawing order: 1 the estimate with
// its levels, 2 reshaped and harmonic, 3 median, 5 the F-test.
std::vector<int> spectrum_plot_kinds(const PlotChoice& choice);

// Spectrum plot `kind` of the run in `r`, whose table is `table`: its
// curves are the table's fields, to which the input refers (the table must
// outlive it).
display::PlotInput spectrum_plot(const api::AnalysisRecord& r, const api::SpectrumTable& table,
                                 int kind);

// The reconstruction plot: the sum of the signals over the series anomaly
// against the time elapsed since the first value. Refers to the table.
display::PlotInput reconstruction_plot(const api::AnalysisRecord& r,
                                       const api::ReconstructionTable& table);

}  // namespace quorvane::plots

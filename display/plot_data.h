// The work arrays of a prepared plot and the plot-data files written from
// them.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "display/display.h"

namespace quorvane::display {

// The points of one plot as prepared: the abscissae and the curves in
// drawing order (kind 1: specraw0 and the four confidence levels; kind 2:
// specresh0 and harmonic0; kind 3: specmed0; kind 5: ftest and the four
// constant F-test levels; kind 6: signal and the series anomaly). Every
// curve has x.size() points. Redraws and saves use these arrays unchanged.
struct PlotData {
  int kind = 0;
  std::vector<float> x;
  std::vector<std::vector<float>> curves;
};

// True for the plot kinds that display draws (1, 2, 3, 5 and 6).
bool is_plot_kind(int kind);

// Fills `data` for input.kind: n - 1 points for the spectrum kinds,
// x(i) = fmin + (i-1)*df; n points for the reconstruction, t(i) = (i-1)*dt and
// anomaly y(i) - ymean. All in single precision. The count is limited to what
// the input arrays hold, so short arrays never cause reads beyond their end.
// Reuses the storage already in `data`.
void prepare_plot_data(const PlotInput& input, PlotData& data);

// Writes the plot-data file text: one header line, then one line per point.
void write_plot_data(std::ostream& out, const PlotData& data);

// Saves the plot-data file `path`. The text goes to a new temporary file
// beside it, which replaces `path` only once completely written; a failure
// leaves any existing file as it was. Returns false with `error` set on
// failure.
bool save_plot_data(const std::string& path, const PlotData& data, std::string& error);

}  // namespace quorvane::display

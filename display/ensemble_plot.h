// The plot of an ensemble spectrum: the median estimate with its 95 % band
// across members and the median background above, the fractions of
// members in which the estimate and the F statistic pass their 95 % levels
// beneath, both against frequency.
#pragma once

#include <span>
#include <string>

namespace quorvane::display {

struct EnsemblePlotInput {
  std::string title;
  std::span<const float> frequency;
  std::span<const float> median, lower, upper;  // the estimate: median, 2.5 and 97.5 %
  std::span<const float> background;            // median background
  std::span<const float> fraction95, fraction_f95;
  std::string frequency_label = "frequency";
};

// Draws the two panels with file device `device` (see file_device) into
// `path`, as draw_file_atomically does: the spectra on a log10 scale, the
// fractions 0..1. Returns false with `error` set when nothing was written
// (fewer than 2 frequencies, arrays of other lengths, a device failure).
bool draw_ensemble_file(const EnsemblePlotInput& input, const std::string& device,
                        const std::string& path, std::string& error);

}  // namespace quorvane::display

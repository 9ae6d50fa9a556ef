#include "display/coherence_plot.h"

#include <algorithm>
#include <vector>

#include "display/plot_device.h"
#include "display/plot_file.h"

namespace quorvane::display {

namespace {

// Colour-map 0 entries: red, green, blue (PLplot's defaults), and line
// styles 1 solid, 2 short dashes, 3 long dashes.
constexpr int kRed = 1, kGreen = 3, kBlue = 9;

}  // namespace

bool draw_coherence_file(const CoherencePlotInput& in, const std::string& device,
                         const std::string& path, std::string& error) {
  const std::size_t n = in.frequency.size();
  if (n < 2) {
    error = "the plot needs at least 2 frequencies";
    return false;
  }
  for (std::size_t size : {in.coherence.size(), in.level95.size(), in.level99.size(),
                           in.phase.size(), in.phase_lower.size(), in.phase_upper.size()}) {
    if (size != n) {
      error = "the curves of the plot differ in length";
      return false;
    }
  }
  const double fmin = in.frequency.front(), fmax = in.frequency.back();
  return draw_page_file(
      path, device,
      [&](PlotDevice& plot) {
        std::vector<float> tx, ty;
        const auto curve = [&](std::span<const float> y, int colour, int style) {
          plot.colour(colour);
          plot.line_style(style);
          thinned_line(plot, in.frequency, y, fmin, fmax, tx, ty);
        };
        plot.viewport(0.1, 0.95, 0.56, 0.92);
        plot.window(fmin, fmax, 0.0, 1.0);
        plot.colour(15);
        plot.axes(0.0, 0.0, "bcst", 0.0, 0, "bcnstv", 0.0, 0);
        plot.labels("", "coherence", in.title);
        curve(in.level95, kRed, 2);
        curve(in.level99, kRed, 3);
        curve(in.coherence, kBlue, 1);
        plot.colour(kRed);
        plot.text("b", -1.5, 0.98, 1.0, "levels: 95 % short, 99 % long dashes");

        plot.viewport(0.1, 0.95, 0.1, 0.46);
        plot.window(fmin, fmax, -180.0, 180.0);
        plot.colour(15);
        plot.line_style(1);
        plot.axes(0.0, 0.0, "bcnst", 0.0, 0, "bcnstv", 90.0, 3);
        plot.labels(in.frequency_label, "phase (degrees)", "");
        curve(in.phase_lower, kGreen, 2);
        curve(in.phase_upper, kGreen, 2);
        curve(in.phase, kBlue, 1);
        plot.line_style(1);
      },
      error);
}

}  // namespace quorvane::display

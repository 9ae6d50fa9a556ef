#include "display/ensemble_plot.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "display/plot_device.h"
#include "display/plot_file.h"

namespace quorvane::display {

namespace {

// Colour-map 0 entries: red, green, blue.
constexpr int kRed = 1, kGreen = 3, kBlue = 9;

// log10 of each value; a value of 0 or below, which has none, takes the
// lowest finite logarithm of the curves.
std::vector<float> logarithms(std::span<const float> values, float floor) {
  std::vector<float> out(values.size());
  for (std::size_t i = 0; i < values.size(); ++i)
    out[i] = values[i] > 0.0f ? std::log10(values[i]) : floor;
  return out;
}

}  // namespace

bool draw_ensemble_file(const EnsemblePlotInput& in, const std::string& device,
                        const std::string& path, std::string& error) {
  const std::size_t n = in.frequency.size();
  if (n < 2) {
    error = "the plot needs at least 2 frequencies";
    return false;
  }
  for (std::size_t size : {in.median.size(), in.lower.size(), in.upper.size(),
                           in.background.size(), in.fraction95.size(), in.fraction_f95.size()}) {
    if (size != n) {
      error = "the curves of the plot differ in length";
      return false;
    }
  }
  float low = std::numeric_limits<float>::max(), high = std::numeric_limits<float>::lowest();
  for (std::span<const float> curve : {in.median, in.lower, in.upper, in.background}) {
    for (float v : curve) {
      if (!(v > 0.0f) || !std::isfinite(v)) continue;
      low = std::min(low, std::log10(v));
      high = std::max(high, std::log10(v));
    }
  }
  if (!(low <= high)) low = 0.0f, high = 1.0f;
  if (high - low < 1e-3f) high = low + 1.0f;
  const std::vector<float> median = logarithms(in.median, low), lower = logarithms(in.lower, low),
                           upper = logarithms(in.upper, low),
                           background = logarithms(in.background, low);
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
        plot.viewport(0.1, 0.95, 0.42, 0.92);
        plot.window(fmin, fmax, low, high);
        plot.colour(15);
        plot.axes(0.0, 0.0, "bcst", 0.0, 0, "bcnstv", 0.0, 0);
        plot.labels("", "log10 power", in.title);
        curve(lower, kGreen, 2);
        curve(upper, kGreen, 2);
        curve(background, kRed, 3);
        curve(median, kBlue, 1);
        plot.colour(kGreen);
        plot.text("b", -1.5, 0.98, 1.0, "median, 95 % band (dashed), background (red)");

        plot.viewport(0.1, 0.95, 0.1, 0.36);
        plot.window(fmin, fmax, 0.0, 1.0);
        plot.colour(15);
        plot.line_style(1);
        plot.axes(0.0, 0.0, "bcnst", 0.0, 0, "bcnstv", 0.5, 1);
        plot.labels(in.frequency_label, "fraction", "");
        curve(in.fraction_f95, kRed, 2);
        curve(in.fraction95, kBlue, 1);
        plot.colour(kRed);
        plot.text("t", -1.5, 0.98, 1.0, "above 95 %: estimate (solid), F (dashed)");
        plot.line_style(1);
      },
      error);
}

}  // namespace quorvane::display

#include "display/heat_map.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "display/plot_device.h"
#include "display/plot_file.h"

namespace quorvane::display {

namespace {

// plpoin's filled circle, and its sizes for the dark ring and the light
// centre of a track point (times the default symbol size).
constexpr int kDot = 17;
constexpr double kRingScale = 1.0, kCentreScale = 0.55;

// The edges of cells centred on `count` evenly spaced values from first to
// last: half a spacing beyond each (half a unit for a single value).
std::pair<double, double> cell_edges(double first, double last, std::size_t count) {
  const double half = count > 1 ? 0.5 * (last - first) / static_cast<double>(count - 1) : 0.5;
  if (half == 0.0) return {first - 0.5, last + 0.5};
  return {first - half, last + half};
}

}  // namespace

const ColourPoints& heat_map_colours() {
  // viridis at 0, 1/8, ..., 1 (sRGB components); the comments give the CIE
  // lightness L* of each point.
  static const ColourPoints points = {
      {0.0, 0.125, 0.25, 0.375, 0.5, 0.625, 0.75, 0.875, 1.0},
      {0.267004, 0.278826, 0.229739, 0.172719, 0.127568, 0.157851, 0.369214, 0.678489, 0.993248},
      {0.004874, 0.175490, 0.322361, 0.448791, 0.566949, 0.683765, 0.788888, 0.863742, 0.906157},
      {0.329415, 0.483397, 0.545706, 0.557885, 0.550556, 0.501686, 0.382914, 0.189503, 0.143936},
      // L*: 14.9, 25.7, 35.7, 45.1, 54.4, 63.7, 73.0, 82.1, 90.9
  };
  return points;
}

HeatMap::HeatMap(std::size_t rows, std::size_t columns, std::size_t max_rows,
                 std::size_t max_columns)
    : rows_(rows),
      columns_(columns),
      cell_rows_(std::min(rows, std::max<std::size_t>(max_rows, 1))),
      cell_columns_(std::min(columns, std::max<std::size_t>(max_columns, 1))),
      cells_(cell_rows_ * cell_columns_, -std::numeric_limits<float>::infinity()) {}

void HeatMap::add_row(std::size_t row, std::span<const float> values) {
  if (row >= rows_) return;
  float* cell_row = cells_.data() + row * cell_rows_ / rows_ * cell_columns_;
  const std::size_t n = std::min(values.size(), columns_);
  for (std::size_t c = 0; c < n; ++c) {
    float& cell = cell_row[c * cell_columns_ / columns_];
    if (std::isfinite(values[c])) cell = std::max(cell, values[c]);
  }
}

bool draw_heat_map_file(const HeatMapInput& input, const std::string& device,
                        const std::string& path, std::string& error) {
  if (input.map == nullptr || input.map->cells().empty()) {
    error = "the heat map has no cells";
    return false;
  }
  const HeatMap& map = *input.map;
  float zmin = std::numeric_limits<float>::infinity();
  float zmax = -zmin;
  for (float z : map.cells()) {
    if (!std::isfinite(z)) continue;
    zmin = std::min(zmin, z);
    zmax = std::max(zmax, z);
  }
  if (!(zmin <= zmax)) zmin = zmax = 0.0f;
  std::vector<float> cells(map.cells().begin(), map.cells().end());
  for (float& z : cells)
    if (!std::isfinite(z)) z = zmin;
  double low = zmin, high = zmax;
  if (low == high) {
    low -= 0.5;
    high += 0.5;
  }
  // Plain variables rather than structured bindings: the drawing lambda
  // captures them, which not every compiler accepts for bindings.
  const std::pair<double, double> time_edges =
      cell_edges(input.first_time, input.last_time, map.rows());
  const std::pair<double, double> frequency_edges =
      cell_edges(input.first_frequency, input.last_frequency, map.columns());
  const double tmin = time_edges.first, tmax = time_edges.second;
  const double fmin = frequency_edges.first, fmax = frequency_edges.second;
  const ColourPoints& colours = heat_map_colours();

  return draw_page_file(
      path, device,
      [&](PlotDevice& plot) {
        plot.viewport(0.1, 0.8, 0.12, 0.9);
        plot.window(tmin, tmax, fmin, fmax);
        plot.colour_map1(colours.position, colours.red, colours.green, colours.blue);
        plot.image(cells, map.cell_rows(), map.cell_columns(), tmin, tmax, fmin, fmax, low, high);
        plot.colour(15);
        plot.axes(0.0, 0.0, "bcnst", 0.0, 0, "bcnstv", 0.0, 0);
        plot.labels(input.time_label, input.frequency_label, input.title);
        plot.points(input.track_time, input.track_frequency, kDot, kRingScale);
        plot.colour(0);
        plot.points(input.track_time, input.track_frequency, kDot, kCentreScale);
        plot.colour(15);
        plot.colour_bar(input.value_label, low, high);
      },
      error);
}

}  // namespace quorvane::display

// Thinning of long polylines before they are drawn: a curve of far more
// points than the plot has pixel columns is reduced to the lowest and the
// highest point of each column, in drawing order, so that the drawn line
// still reaches every extreme (no peak disappears) and drawing stays quick.
// Only drawing is thinned; plot-data files keep every point.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace quorvane::display {

// A curve is thinned only when it has more than this many points per column.
constexpr std::size_t kThinningPointsPerColumn = 4;

// The points of the polyline (x[i], y[i]), i < min(x.size(), y.size()), to
// draw in the window lo..hi of `columns` pixel columns (lo > hi is a
// reversed window). Returns true and fills out_x, out_y (replacing their
// contents) with at most 2 points per column, plus the last point before
// and the first after the window so that the line leaves the frame as
// before: within each column the lowest and the highest point, in their
// order along the curve. Returns false, leaving out_x and out_y as they
// were, when the curve should be drawn as it is: at most
// kThinningPointsPerColumn points per column, an empty or non-finite
// window, or abscissae that are not finite and non-decreasing.
bool thin_polyline(std::span<const float> x, std::span<const float> y, double lo, double hi,
                   std::size_t columns, std::vector<float>& out_x, std::vector<float>& out_y);

}  // namespace quorvane::display

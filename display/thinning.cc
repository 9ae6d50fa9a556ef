#include "display/thinning.h"

#include <algorithm>
#include <cmath>

namespace quorvane::display {

bool thin_polyline(std::span<const float> x, std::span<const float> y, double lo, double hi,
                   std::size_t columns, std::vector<float>& out_x, std::vector<float>& out_y) {
  const std::size_t n = std::min(x.size(), y.size());
  if (columns == 0 || n <= kThinningPointsPerColumn * columns) return false;
  if (lo > hi) std::swap(lo, hi);
  if (!(hi > lo) || !std::isfinite(lo) || !std::isfinite(hi)) return false;
  for (std::size_t i = 0; i < n; ++i) {
    if (!std::isfinite(x[i]) || (i > 0 && x[i] < x[i - 1])) return false;
  }

  // Points wholly before or after the window draw nothing but the segments
  // that cross its edges.
  const auto xs = x.first(n);
  const std::size_t first =
      static_cast<std::size_t>(std::lower_bound(xs.begin(), xs.end(), lo) - xs.begin());
  const std::size_t last =
      static_cast<std::size_t>(std::upper_bound(xs.begin(), xs.end(), hi) - xs.begin());
  out_x.clear();
  out_y.clear();
  auto keep = [&](std::size_t i) {
    out_x.push_back(x[i]);
    out_y.push_back(y[i]);
  };
  if (first > 0) keep(first - 1);
  const double per_unit = static_cast<double>(columns) / (hi - lo);
  auto column_of = [&](std::size_t i) {
    const auto c = static_cast<std::size_t>((static_cast<double>(x[i]) - lo) * per_unit);
    return std::min(c, columns - 1);
  };
  // A missing value (NaN) is an extreme only of a column that has nothing else.
  auto lower = [&](std::size_t i, std::size_t than) {
    return std::isnan(y[than]) || y[i] < y[than];
  };
  auto higher = [&](std::size_t i, std::size_t than) {
    return std::isnan(y[than]) || y[i] > y[than];
  };
  for (std::size_t start = first; start < last;) {
    const std::size_t column = column_of(start);
    std::size_t low = start;
    std::size_t high = start;
    std::size_t i = start + 1;
    for (; i < last && column_of(i) == column; ++i) {
      if (lower(i, low)) low = i;
      if (higher(i, high)) high = i;
    }
    keep(std::min(low, high));
    if (high != low) keep(std::max(low, high));
    start = i;
  }
  if (last < n) keep(last);
  return true;
}

}  // namespace quorvane::display

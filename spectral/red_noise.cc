#include "spectral/red_noise.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <limits>
#include <memory_resource>
#include <vector>

#include "spectral/two_halves.h"

namespace quorvane::spectral {

namespace {

// The pi of the misfit's model curve: 3.1415925, one float step below the
// background's single-precision pi. The step changes the misfit values in
// their last bits (though not the fitted coefficient in any case checked);
// the value is kept so that every misfit, and so every tie the grid search
// resolves, stays bit for bit what it is.
constexpr float kMisfitPi = 3.1415925f;
// A grid point's misfit must lie below this to count: a margin of 100 below
// the float range, so that a misfit near overflow gives no fit rather than a
// meaningless one, and finite, so the pruning bound that starts from it stays
// an ordinary number.
constexpr float kMisfitCeiling = 1e36f;
constexpr float kFloor = 1e-12f;
constexpr int kGridSize = 999;

float model_value(float s0, float r, float cs) {
  return s0 * (1.0f - r * r) / (1.0f - 2.0f * r * cs + r * r);
}

float entry_cos(const MisfitBand& band, std::size_t i) {
  const float f = static_cast<float>(i) * band.df + band.f0;
  return std::cos(kMisfitPi * f / band.fmax);
}

}  // namespace

float mse(float r, const MisfitBand& band) {
  float misfit = 0.0f;
  for (std::size_t i = 0; i < band.smed.size(); ++i) {
    const float model = model_value(band.s0, r, entry_cos(band, i));
    if (band.ilogfit == 0) {
      const float diff = band.smed[i] - model;
      misfit += diff * diff;
    } else {
      const float a = std::max(std::fabs(model), kFloor);
      const float b = std::max(std::fabs(band.smed[i]), kFloor);
      const float diff = std::log(b) - std::log(a);
      misfit += diff * diff;
    }
  }
  return misfit;
}

float red_noise_grid_fit(const MisfitBand& band, float fallback,
                         std::pmr::memory_resource* memory) {
  const std::size_t n = band.smed.size();
  std::pmr::vector<float> cs(n, memory), log_smed(n, memory);
  for (std::size_t i = 0; i < n; ++i) {
    cs[i] = entry_cos(band, i);
    log_smed[i] = std::log(std::max(std::fabs(band.smed[i]), kFloor));
  }
  std::vector<float> grid(kGridSize);
  float r = 0.0f;
  for (float& g : grid) {
    g = r;
    r += 0.001f;
  }

  // Misfit of grid entry j, or +infinity once its partial sum shows that it
  // cannot replace (best_value, best_index) under the first-minimum rule.
  auto misfit = [&](int j, float best_value, int best_index) {
    const float rj = grid[static_cast<std::size_t>(j)];
    const float numerator = band.s0 * (1.0f - rj * rj);
    const float r2 = rj * rj;
    const float two_r = 2.0f * rj;
    float sum = 0.0f;
    // Checking every entry would cost as much as the arithmetic; every 64
    // entries is enough to stop early.
    for (std::size_t start = 0; start < n; start += 64) {
      const std::size_t stop = std::min(n, start + 64);
      if (band.ilogfit == 0) {
        for (std::size_t i = start; i < stop; ++i) {
          const float model = numerator / (1.0f - two_r * cs[i] + r2);
          const float diff = band.smed[i] - model;
          sum += diff * diff;
        }
      } else {
        for (std::size_t i = start; i < stop; ++i) {
          const float model = numerator / (1.0f - two_r * cs[i] + r2);
          const float diff = log_smed[i] - std::log(std::max(std::fabs(model), kFloor));
          sum += diff * diff;
        }
      }
      if (sum > best_value || (sum == best_value && j > best_index)) {
        return std::numeric_limits<float>::infinity();
      }
    }
    return sum;
  };

  // The best (misfit, grid index) seen, under the first-minimum rule: a
  // misfit below kMisfitCeiling counts, a smaller one wins, an equal one
  // wins only from a lower index.
  struct Best {
    float value = kMisfitCeiling;
    int index = -1;
  };
  auto consider = [&](int j, Best& best) {
    const float value = misfit(j, best.value, best.index);
    if (value < best.value || (value == best.value && best.index >= 0 && j < best.index)) {
      best = {value, j};
    }
  };

  // A coarse pass finds a low misfit early, so that most other evaluations
  // stop after a few entries; the outcome does not depend on the order.
  Best best;
  std::vector<char> done(kGridSize, 0);
  for (int j = 0; j < kGridSize; j += 37) {
    consider(j, best);
    done[static_cast<std::size_t>(j)] = 1;
  }
  // The rest nearest to the coarse minimum first: they tighten the bound.
  std::vector<int> rest;
  for (int j = 0; j < kGridSize; ++j) {
    if (!done[static_cast<std::size_t>(j)]) rest.push_back(j);
  }
  const int centre = std::max(best.index, 0);
  std::stable_sort(rest.begin(), rest.end(),
                   [&](int a, int b) { return std::abs(a - centre) < std::abs(b - centre); });
  // Long bands share the rest between two threads, each with its own bound
  // (any evaluated misfit is a valid bound); the better result wins.
  Best second = best;
  auto work = [&](std::size_t first, std::size_t stride, Best& own) {
    for (std::size_t i = first; i < rest.size(); i += stride) consider(rest[i], own);
  };
  if (n >= 4096) {
    run_two_halves([&] { work(0, 2, best); }, [&] { work(1, 2, second); });
    if (second.value < best.value ||
        (second.value == best.value && second.index >= 0 && second.index < best.index)) {
      best = second;
    }
  } else {
    work(0, 1, best);
  }
  return best.index >= 0 ? grid[static_cast<std::size_t>(best.index)] : fallback;
}

}  // namespace quorvane::spectral


// The AR(1) grid search as it stood before the fit screened the grid with
// bounded approximate misfits, kept verbatim as the reference the faster
// search must match bit for bit: it evaluates the exact misfit of every grid
// value that can still win, nearest first to a rough minimum.
#pragma once

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory_resource>
#include <vector>

#include "spectral/numerics/two_halves.h"
#include "spectral/stages/red_noise.h"

namespace quorvane::spectral::reference {

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
// an ordinary number. On the scale misfit_scale gives, only values that are
// no number or lie some 1e17 times the level s0 reach it.
constexpr float kMisfitCeiling = 1e36f;
// The log misfit's floor, relative to s0: far below any spectrum that single
// precision resolves, so that it only keeps zeros finite.
constexpr float kRelativeFloor = 1e-12f;
constexpr int kGridSize = 999;

float entry_cos(const MisfitBand& band, std::size_t i) {
  const float f = static_cast<float>(i) * band.df + band.f0;
  return std::cos(kMisfitPi * f / band.nyquist);
}

// The smallest value the log misfit takes the logarithm of, for the scaled
// level s0; a normal float even where s0 is zero.
float log_floor(float s0) {
  return std::max(kRelativeFloor * s0, std::numeric_limits<float>::min());
}

// A (misfit, grid index) pair as one unsigned number whose order is the
// first-minimum rule: a smaller misfit wins, an equal one wins from a lower
// index. Misfits are sums of squares, so +0, positive, infinite or NaN, and
// the bits of such floats order as the values do (NaN above everything, so
// it never wins).
std::uint64_t ranked(float misfit, int index) {
  return (std::uint64_t{std::bit_cast<std::uint32_t>(misfit)} << 32) |
         static_cast<std::uint32_t>(index);
}

// Nothing found yet: a misfit must lie below kMisfitCeiling to count, and
// the pair (kMisfitCeiling, 0) is below (kMisfitCeiling, any index).
const std::uint64_t kNoFit = ranked(kMisfitCeiling, 0);

// Entries summed between two looks at the bound: looking costs as much as
// the arithmetic of an entry. The first look comes sooner, since most grid
// values are far off and lose within a few entries.
constexpr std::size_t kFirstChunk = 8;
constexpr std::size_t kChunk = 64;

}  // namespace

inline float reference_grid_fit(const MisfitBand& band, float fallback,
                         std::pmr::memory_resource* memory = std::pmr::get_default_resource()) {
  const std::size_t n = band.smed.size();
  // Long bands share every step between two threads.
  const bool two_threads = n >= 4096;
  const float scale = misfit_scale(band);
  const float s0 = band.s0 * scale;
  const float floor = log_floor(s0);
  // What the model is compared with: the scaled values, or their logarithms.
  std::pmr::vector<float> cs(n, memory), target(n, memory);
  auto prepare = [&](std::size_t first, std::size_t last) {
    for (std::size_t i = first; i < last; ++i) {
      cs[i] = entry_cos(band, i);
      const float value = band.smed[i] * scale;
      target[i] = band.fit == Fit::linear ? value : std::log(std::max(std::fabs(value), floor));
    }
  };
  if (two_threads) {
    run_two_halves([&] { prepare(0, n / 2); }, [&] { prepare(n / 2, n); });
  } else {
    prepare(0, n);
  }
  std::vector<float> grid(kGridSize), level(kGridSize);
  float r = 0.0f;
  for (std::size_t j = 0; j < grid.size(); ++j) {
    grid[j] = r;
    level[j] = ar1_band_level(s0, r, band);
    r += 0.001f;
  }

  // The misfit of grid value rj over entries [start, stop), at most kChunk
  // of them, added to sum in entry order with the operations of mse. The
  // models of a chunk are formed before their logarithms, so that the
  // divisions run side by side.
  auto add_entries = [&](int j, std::size_t start, std::size_t stop, float sum) {
    const float rj = grid[static_cast<std::size_t>(j)];
    const float numerator = level[static_cast<std::size_t>(j)] * (1.0f - rj * rj);
    const float r2 = rj * rj;
    const float two_r = 2.0f * rj;
    if (band.fit == Fit::linear) {
      for (std::size_t i = start; i < stop; ++i) {
        const float diff = target[i] - numerator / (1.0f - two_r * cs[i] + r2);
        sum += diff * diff;
      }
      return sum;
    }
    float model[kChunk];
    for (std::size_t i = start; i < stop; ++i) {
      model[i - start] = std::max(std::fabs(numerator / (1.0f - two_r * cs[i] + r2)), floor);
    }
    for (std::size_t i = start; i < stop; ++i) {
      const float diff = target[i] - std::log(model[i - start]);
      sum += diff * diff;
    }
    return sum;
  };

  // Evaluates grid index j and makes it the best if it ranks below it. An
  // evaluation stops once its partial sum ranks above the best: the terms
  // are never negative and a rounded sum of them never decreases, so it
  // could not win any more. Every look reads the latest best of either
  // thread, shared through one atomic (any evaluated misfit is a valid
  // bound), which only stops losers sooner: the winner ranks below every
  // other misfit, so it is never stopped, whatever the timing.
  std::atomic<std::uint64_t> best{kNoFit};
  auto evaluate = [&](int j) {
    float sum = 0.0f;
    for (std::size_t start = 0; start < n;) {
      const std::size_t stop = std::min(n, start + (start == 0 ? kFirstChunk : kChunk));
      sum = add_entries(j, start, stop, sum);
      start = stop;
      if (ranked(sum, j) > best.load(std::memory_order_relaxed)) return;
    }
    const std::uint64_t mine = ranked(sum, j);
    std::uint64_t seen = best.load(std::memory_order_relaxed);
    while (mine < seen && !best.compare_exchange_weak(seen, mine, std::memory_order_relaxed)) {
    }
  };

  // The order of evaluation decides only the speed: nearest first to the
  // minimum of a rough misfit (every 8th grid value, then its neighbours,
  // over about 256 entries spread across the band), so that the bound is
  // tight from the start and most evaluations stop within a few entries.
  const std::size_t stride = std::max<std::size_t>(1, n / 256);
  auto rough_misfit = [&](int j) {
    float sum = 0.0f;
    for (std::size_t i = 0; i < n; i += stride) sum = add_entries(j, i, i + 1, sum);
    return sum;
  };
  auto rough_minimum = [&](int first, int last, int step, int start) {
    int at = start;
    float lowest = rough_misfit(start);
    for (int j = first; j <= last; j += step) {
      const float value = rough_misfit(j);
      if (value < lowest) {
        lowest = value;
        at = j;
      }
    }
    return at;
  };
  const int coarse = rough_minimum(8, kGridSize - 1, 8, 0);
  const int centre =
      rough_minimum(std::max(coarse - 7, 0), std::min(coarse + 7, kGridSize - 1), 1, coarse);
  std::vector<int> order;
  order.reserve(kGridSize);
  order.push_back(centre);
  for (int d = 1; d < kGridSize; ++d) {
    if (centre - d >= 0) order.push_back(centre - d);
    if (centre + d < kGridSize) order.push_back(centre + d);
  }

  // Each thread takes the next index of the order; which thread evaluates
  // which index changes nothing but the time.
  std::atomic<std::size_t> next{0};
  auto work = [&] {
    for (std::size_t k = next.fetch_add(1, std::memory_order_relaxed); k < order.size();
         k = next.fetch_add(1, std::memory_order_relaxed)) {
      evaluate(order[k]);
    }
  };
  if (two_threads) {
    run_two_halves(work, work);
  } else {
    work();
  }
  const std::uint64_t found = best.load();
  return found == kNoFit ? fallback : grid[static_cast<std::size_t>(found & 0xffffffffu)];
}

}  // namespace quorvane::spectral::reference

#include "spectral/red_noise.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <memory_resource>
#include <vector>

namespace quorvane::spectral {

namespace {

// The constant as the misfit has always used it (not single-precision pi).
constexpr float kMisfitPi = 3.1415925f;
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

  float best_value = 1e36f;
  int best_index = -1;
  auto consider = [&](int j) {
    const float value = misfit(j, best_value, best_index);
    if (value < best_value || (value == best_value && best_index >= 0 && j < best_index)) {
      best_value = value;
      best_index = j;
    }
  };
  // A coarse pass finds a low misfit early, so that most of the full pass
  // stops after a few entries; the outcome does not depend on the order.
  std::vector<char> done(kGridSize, 0);
  for (int j = 0; j < kGridSize; j += 37) {
    consider(j);
    done[static_cast<std::size_t>(j)] = 1;
  }
  if (best_index >= 0) {
    for (int j = std::max(0, best_index - 36); j <= std::min(kGridSize - 1, best_index + 36); ++j) {
      if (!done[static_cast<std::size_t>(j)]) {
        consider(j);
        done[static_cast<std::size_t>(j)] = 1;
      }
    }
  }
  for (int j = 0; j < kGridSize; ++j) {
    if (!done[static_cast<std::size_t>(j)]) consider(j);
  }
  return best_index >= 0 ? grid[static_cast<std::size_t>(best_index)] : fallback;
}

}  // namespace quorvane::spectral


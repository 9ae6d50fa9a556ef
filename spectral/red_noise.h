// The red-noise (AR(1)) background: the misfit of the model to the
// median-smoothed spectrum and the grid search for the AR(1) coefficient,
// the robust background of Mann and Lees (1996), Climatic Change 33.
#pragma once

#include <memory_resource>
#include <span>

namespace quorvane::spectral {

// What the misfit reads: the band and the median-smoothed spectrum.
struct MisfitBand {
  float s0 = 0.0f;               // mean level of the model
  std::span<const float> smed;   // median-smoothed spectrum, one value per band entry
  float fmax = 0.5f;             // upper band end: the model's frequency scale
  float df = 0.0f;               // bin spacing
  float f0 = 0.0f;               // frequency of the first entry
  int ilogfit = 1;               // 0 squared differences, 1 squared log differences
};

// mse: misfit between smed and the AR(1) model
//   s0 (1 - r^2) / (1 - 2 r cos(3.1415925 f / fmax) + r^2),
// summed over the band in single precision.
float mse(float r, const MisfitBand& band);

// The coefficient r among 0, 0.001, ... (999 values, the step added in
// single precision) with the smallest misfit; the first minimum wins. A
// misfit must lie below 1e36 to count (one whose squared differences come
// near the float range gives no usable fit); fallback is returned when none does.
// Work storage comes from memory (two floats per band entry); bands of 4096
// entries and more are shared with a second thread.
// Gives exactly the result of evaluating mse at every grid value in order,
// but precomputes what does not depend on r, evaluates the grid nearest
// first to a rough minimum and abandons an evaluation as soon as its partial
// sum can no longer beat the best one found (the terms are never negative
// and a rounded sum of them never decreases).
float red_noise_grid_fit(const MisfitBand& band, float fallback,
                         std::pmr::memory_resource* memory = std::pmr::get_default_resource());

}  // namespace quorvane::spectral

// The red-noise (AR(1)) background: the misfit of the model to the
// median-smoothed spectrum and the grid search for the AR(1) coefficient,
// the robust background of Mann and Lees (1996), Climatic Change 33.
#pragma once

#include <cstddef>
#include <memory>
#include <memory_resource>
#include <span>
#include <vector>

#include "quorvane/settings.h"

namespace quorvane::spectral {

// What the misfit reads: the band and the median-smoothed spectrum.
struct MisfitBand {
  float s0 = 0.0f;               // mean level of the model
  std::span<const float> smed;   // median-smoothed spectrum, one value per band entry
  // The Nyquist frequency 0.5 / dt: the model's frequency scale, since the
  // spectrum of an AR(1) process depends on f dt alone, whatever the band.
  float nyquist = 0.5f;
  float df = 0.0f;               // bin spacing
  float f0 = 0.0f;               // frequency of the first entry
  Fit fit = Fit::log;            // linear: squared differences, log: squared log differences
  // Whether the band runs from 0 to the Nyquist frequency. Over such a band
  // the AR(1) shape has mean 1 and the model's level is s0 itself; over a
  // part of it the level is s0 / ar1_band_mean, so that the model keeps
  // the band's mean s0 whatever the coefficient.
  bool full_band = true;
};

// The mean of the AR(1) shape (1 - r^2) / (1 - 2 r cos(pi f / nyquist) + r^2)
// over the frequencies low .. high (0 <= low < high <= nyquist), |r| < 1,
// in closed form: the shape integrates to 2 atan(k tan(theta / 2)) over
// 0 .. theta = pi f / nyquist, k = (1 + r) / (1 - r). It is 1 over 0 ..
// nyquist and above 1 over a low band when r > 0. 1 where it is not a
// positive finite number (|r| = 1).
double ar1_band_mean(double r, double low, double high, double nyquist);

// The level that gives the AR(1) model of coefficient r the mean s0 over
// the band: s0 itself for a full band, else s0 / ar1_band_mean over the
// band's entries (from f0 to f0 + count df).
float ar1_band_level(float s0, float r, const MisfitBand& band);

// The power of two by which the fit multiplies s0 and smed, so that the
// coefficient does not depend on the units of the data: one that brings s0
// into [1, 2) for the linear misfit (its squares then neither overflow nor
// underflow, and its minimum lies where it lay on the values as they are,
// since the scaling is exact), and for the log misfit only when s0 lies
// outside [2^-64, 2^64], where its model could overflow or its values lose
// precision (within it the logarithms are used as they are, which keeps
// their rounding). 1 for an s0 that is zero, subnormal or not finite.
float misfit_scale(const MisfitBand& band);

// mse: misfit between smed and the AR(1) model
//   level (1 - r^2) / (1 - 2 r cos(3.1415925 f / nyquist) + r^2),
// level = ar1_band_level(s0, r, band),
// both multiplied by misfit_scale(band), summed over the band in single
// precision. The log misfit takes values below 1e-12 of the (scaled) s0 as
// that floor, so that a zero in smed gives a finite misfit.
float mse(float r, const MisfitBand& band);

// The coefficient r among 0, 0.001, ... (999 values, the step added in
// single precision) with the smallest misfit; the first minimum wins. A
// misfit must lie below 1e36 to count (only non-finite values in smed, or
// an smed far from the level s0, come near it); fallback is returned when
// none does.
// Work storage comes from memory (two floats per band entry); bands of 4096
// entries and more are shared with a second thread.
// Gives exactly the result of evaluating mse at every grid value in order,
// but precomputes what does not depend on r and first screens the grid: a
// vectorised misfit with a proven bound on its distance from the exact one
// rules out every grid value whose misfit surely exceeds another's, so that
// only the few that may still be the first minimum are evaluated exactly
// (where the screen cannot bound a band, with values that are no number,
// every grid value is). An exact evaluation is abandoned as soon as its
// partial sum can no longer beat the best one found (the terms are never
// negative and a rounded sum of them never decreases).
//
// With a cache, the log misfit of a band of at most kSeriesScreenEntries
// entries is screened another way, with the same proven-bound logic: the
// logarithm of the model's shape, ln(1 - 2 r cos + r^2), is expanded in a
// short power series in r around the centres of a few windows of the grid,
// so that every grid value's misfit follows from a few sums over the band
// (its cross terms with the target), plus sums that depend on the band's
// frequencies alone. Those the cache keeps for the next spectrum on the same
// band (a plan's or a session's series, Monte Carlo surrogates, evolutive
// windows), which leaves a pass of a few products per entry per window.
class RedFitCache;
float red_noise_grid_fit(const MisfitBand& band, float fallback,
                         std::pmr::memory_resource* memory = std::pmr::get_default_resource(),
                         RedFitCache* cache = nullptr);

// The longest band the series screen takes: its sums cost a kilobyte of the
// cache per entry.
inline constexpr std::size_t kSeriesScreenEntries = 4096;

// What the series screen keeps of one band's frequencies (see
// red_noise_grid_fit); it makes them again when a band of other
// frequencies comes, once it has come twice in a row. Not for concurrent
// fits: one per thread.
class RedFitCache {
 public:
  RedFitCache();
  ~RedFitCache();
  RedFitCache(RedFitCache&&) noexcept;
  RedFitCache& operator=(RedFitCache&&) noexcept;
  struct Geometry;

 private:
  friend Geometry* band_geometry(RedFitCache& cache, const MisfitBand& band, bool at_once);
  std::unique_ptr<Geometry> geometry_;
};

// The series screen's misfit of every grid value and the bound on its
// distance from mse's: mse(grid value j, band) lies within misfit[j] +-
// bound[j] (an infinite bound where the screen cannot bound it). Empty when
// the screen does not take the band (the linear misfit, too many entries,
// values that are no number). For the tests of its bound.
struct ScreenedGrid {
  std::vector<double> misfit, bound;
};
ScreenedGrid series_screen(const MisfitBand& band, RedFitCache& cache);

}  // namespace quorvane::spectral

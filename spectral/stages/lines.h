// Line frequencies between the transform's bins. The spectrum and the
// F-test are known on the transform's grid only, and a line that falls
// between two bins can show a low F statistic at both (its eigencoefficients
// there no longer follow the tapers' sums). For each listed peak this finds
// the frequency within the peak's bandwidth where the F statistic is
// largest, from eigencoefficients evaluated at any frequency by a local
// zoom of the tapered record, with no padding of the whole transform.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <span>
#include <vector>

#include "spectral/settings.h"

namespace quorvane::spectral {

// One listed peak's line; NaN throughout where there is no F-test (one
// taper) or no estimate (a record the search cannot take).
struct LineEstimate {
  static constexpr float kNone = std::numeric_limits<float>::quiet_NaN();
  float frequency = kNone;     // where F is largest within the peak's bandwidth
  float F = kNone;             // the F statistic there
  float significance = kNone;  // percent, from the F(2, 2K - 2) distribution
  float frequency_sd = kNone;  // standard deviation of the frequency (see line_estimates)
};

// A record as its spectrum estimator tapered it: samples at grid positions
// of step dt, and the tapers on the whole grid.
struct TaperedRecord {
  std::span<const float> values;        // the samples
  std::span<const std::int64_t> index;  // their grid positions, strictly increasing; empty: 0, 1, ...
  int npts = 0;                         // grid positions; the span is npts * dt
  std::span<const float> tapers;        // taper k at tapers[k * npts], 0 where no sample lies
  int nwin = 0;                         // K
  int p = 0;                            // resolution: half-bandwidth p / (npts dt)
  float dt = 1.0f;
  double norm = 1.0;  // the factor the eigencoefficients are divided by (band_normalisation)
};

// The percent point of F under the no-line hypothesis: F follows F(2, 2K -
// 2), whose distribution function is 1 - (1 + F / (K - 1))^-(K - 1). NaN for
// K below 2 or a NaN F.
float f_significance(float F, int nwin);

// The line of each frequency of `frequencies` (listed peaks of `results`,
// the run of `record`): the frequency within f +- p / (npts dt) (inside 0
// .. 1 / (2 dt)) where the F statistic of the record's eigencoefficients is
// largest, that F and its significance. The search evaluates F on a grid of
// 1/16 of the Rayleigh frequency 1 / (npts dt), then by golden section
// between the neighbours of the grid's largest value; the significance is
// that of one frequency chosen in advance, with no allowance for the search.
// The standard deviation is the Cramer-Rao bound of a sinusoid's frequency
// in white noise (Rife and Boorstyn 1974, IEEE Trans. Inf. Theory 20:591,
// written for any sample times t_n):
//   sd_f = 1 / (2 pi sqrt(eta * sum_n (t_n - mean t)^2)),
// which for N evenly spaced samples is sqrt(12 / (eta N (N^2 - 1))) / (2 pi dt),
// with the signal-to-noise ratio eta = A^2 / (2 sigma^2) taken locally: the
// line amplitude A = 2 |mu| from the F-test's regression amplitude mu, and
// the noise variance sigma^2 from the background at the peak, which for
// white noise is sigma^2 times the tapers' mean sum of squares. NaN where
// the background is not positive. With fewer than two tapers every
// estimate is NaN. Entries are in the order of `frequencies`. `cancelled`,
// when set, is asked before each line (from either of two threads on a long
// record); once it returns true the remaining lines are left NaN, and the
// caller refuses the run.
std::vector<LineEstimate> line_estimates(const TaperedRecord& record, const SpecResults& results,
                                         std::span<const float> frequencies,
                                         const std::function<bool()>& cancelled = {});

}  // namespace quorvane::spectral

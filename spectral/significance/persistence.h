// The persistence time of a red-noise record on its own times, for the
// red-noise background and the Monte Carlo surrogates of records with gaps
// or uneven steps.
#pragma once

#include <functional>
#include <span>

#include "common/status.h"

namespace quorvane::spectral {

// The persistence time tau of the continuous-time AR(1) process
//   X(j) = exp(-(t(j) - t(j-1)) / tau) X(j-1) + E(j)
// estimated from values y observed at times `time` (strictly increasing,
// as many as the values), by the least-squares method of Mudelsee (2002),
// Comput. Geosci. 28:69:
// - the values are standardised, x = (y - mean) / sd, and the times scaled
//   by the mean step d = (t(n-1) - t(0)) / (n - 1), s(j) = t(j) / d;
// - a = exp(-d / tau) minimises the sum of squared one-step prediction
//   errors S(a) = sum_{j>=1} (x(j) - a^(s(j) - s(j-1)) x(j-1))^2 over
//   0 <= a <= 1 (Brent's method, Brent 1973, Algorithms for Minimization
//   without Derivatives, ch. 5);
// - the estimate is corrected for its bias with the evenly spaced formula
//   E(a_hat) = a - (1 + 3 a) / (n - 1) (Kendall 1954, Biometrika 41:403),
//   which Mudelsee carries over to uneven steps: a' = (a_hat (n-1) + 1) / (n - 4);
// - tau = -d / ln(a').
// Returned in tau (time units):
// - 0 (white noise) when S is least at a = 0, that is when the record shows
//   no persistence at all (the bias correction is not applied then);
// - at most the span t(n-1) - t(0): a longer persistence time, or a
//   corrected a' of 1 or more, cannot be told apart on this record and
//   gives the span.
// Refused, tau left as it was: fewer than 10 values, sizes that differ,
// times that are not finite or not strictly increasing, values that are
// not finite, and values that are all equal (no variation to estimate a
// persistence from).
// Cost: O(n) per evaluation of S, some 40 evaluations; memory O(n).
// `cancelled` is asked before each pass over the record; when it returns
// true the call is refused as interrupted.
Status persistence_time(std::span<const double> time, std::span<const float> y, double& tau,
                        const std::function<bool()>& cancelled = {});

// The AR(1) coefficient at step dt of persistence time tau, exp(-dt / tau):
// 0 for tau <= 0 (no persistence), and below 1 however long tau is, so that
// the background stays finite.
float coefficient_of(double tau, float dt);

// The persistence time of AR(1) coefficient rho at step dt, -dt / ln(rho);
// 0 (white noise) for rho <= 0.
double persistence_of(float rho, float dt);

}  // namespace quorvane::spectral

// Jackknife confidence interval of a multitaper spectrum.
#pragma once

#include <span>

#include "spectral/stages/eigenspectra.h"

namespace quorvane::spectral {

// The 97.5 % point of Student's t with `dof` degrees of freedom, 1 <= dof
// <= 7: the factor of a 95 % jackknife interval over dof + 1 tapers.
double student_t975(int dof);

// The 95 % delete-one-taper jackknife interval of the log spectrum (Thomson
// and Chave's variance estimate). For each taper k, S_k is the estimate
// from the other K - 1 tapers with the same estimator (adaptive when
// `adaptive`, with variance scale sig2 as in adwait, else hires with
// `weights` over the K - 1 tapers) and
// L_k = ln S_k; with L the mean of the L_k,
//   var = (K - 1) / K * sum_k (L_k - L)^2,
//   lower, upper = estimate * exp(-+ t sqrt(var)),
// t the 97.5 % point of Student's t with K - 1 degrees of freedom. The
// interval is centred on the full estimate (estimate[i], from all tapers).
// Writes lower[0..count-1] and upper[0..count-1]; an entry where the
// estimate or one of the S_k is zero gets lower = upper = estimate.
// Requires 2 <= K <= 8 and el, estimate, lower, upper of the sizes above.
// Work storage is a few blocks of entries; long bands are shared with a
// second thread.
void jackknife_interval(const Eigencoefficients& y, std::span<const double> el, bool adaptive,
                        double sig2, std::span<const float> estimate, std::span<float> lower,
                        std::span<float> upper,
                        HiresWeights weights = HiresWeights::inverse_concentration);

}  // namespace quorvane::spectral

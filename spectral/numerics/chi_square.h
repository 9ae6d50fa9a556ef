// Percent points of the chi-square distribution.
#pragma once

#include "common/status.h"

namespace quorvane::spectral {

// chsppf: the value below which a chi-square variate with nu degrees of
// freedom falls with probability p, computed in double precision (gamma
// function by Stirling's series, the gamma distribution function by its
// power series, then bracketing and bisection) and returned in single
// precision.
// Failure: p outside [0, 1), nu < 1, or a distribution-function series that
// does not converge in 10000 terms writes the routine's diagnostic lines to
// sink (when one is given) and returns 0.
float chsppf(float p, int nu, const MessageSink& sink = {});

}  // namespace quorvane::spectral

// Monte Carlo significance levels: the spectrum-to-background ratios of
// AR(1) surrogate series run through the same analysis chain as the series.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "spectral/spectrum.h"
#include "common/status.h"

namespace quorvane::spectral {

// The value below which a fraction q of the sample lies, taken at rank
// h = (M + 1) q of the M sorted values (interpolated between neighbouring
// ranks, clamped to the smallest and largest value). With this rank a new
// value from the same distribution exceeds the quantile with probability
// 1 - q whatever M is, when (M + 1) q is a whole number (M = 99, 999, ...).
// `sorted` must be in ascending order and not empty.
float empirical_quantile(std::span<const float> sorted, double q);

// The Monte Carlo levels of a series: for each band entry, the 50, 90, 95
// and 99 % empirical quantiles (as above) of raw spectrum over background
// of `surrogates` AR(1) series of npts values with coefficient rho and
// variance `variance`, each analysed by spec with the same settings
// (without Monte Carlo levels and jackknife). Surrogate m draws from
// RandomStream(seed, m); the quantiles are taken once all surrogates are
// done, so the result is the same for any number of jobs. A zero
// background gives ratio 0, as in the peak search.
// levels[j] receives nf entries (the last one 0) on success; on refusal
// (settings refused by check_spec, surrogates < 1, jobs < 1, |rho| >= 1,
// a run that needs more memory than the machine has available, a surrogate
// whose spectrum cannot be computed) levels is left as it was.
// Threads: jobs threads (the caller's included) share the surrogates.
Status montecarlo_levels(const SpecSettings& settings, float rho, float variance, int surrogates,
                         std::uint64_t seed, int jobs,
                         std::array<std::vector<float>, 4>& levels);

}  // namespace quorvane::spectral

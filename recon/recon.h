// Time-domain reconstruction of one narrowband signal, or of the trend, from
// the multitaper eigencoefficients of the series at one frequency.
#pragma once

#include <span>

#include "common/status.h"

namespace quorvane::recon {

// Checks that a reconstruction with these values is possible (at least 2
// values, dt positive, the taper arguments the spectrum engine also checks,
// spectral::check_taper_arguments, with at most 16 tapers, and no more
// tapers than envelope knots). The message names the offending value.
Status check_recon(int nwin, int p, float dt, int npts);

// Rebuilds the signal at frequency freq0 (the trend when freq0 < bndwdth)
// from y[0..npts-1] with K = nwin tapers of resolution p, under constraint
// iconstr (0 least misfit, 1 least norm, 2 least slope, 3 least roughness).
// Writes rsig[0..npts-1]; with iconstr != 0 the entries of rsig beyond npts
// are set to 0, with iconstr = 0 they are left as they are.
// A singular system (a vanishing pivot or constraint norm) is reported in the
// returned status; the envelope of that pass is then zero and rsig is still
// written. A call refused by check_recon, or with y or rsig shorter than
// npts, or with a frequency outside 0..Nyquist, writes zeros where a normal
// run would have written and returns the reason, so a caller that sums the
// signals adds nothing for it.
Status recon(std::span<const float> y, int nwin, int p, float dt, int npts, float bndwdth,
             float freq0, int iconstr, std::span<float> rsig);

}  // namespace quorvane::recon

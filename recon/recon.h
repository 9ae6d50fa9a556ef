// Time-domain reconstruction of one narrowband signal, or of the trend, from
// the multitaper eigencoefficients of the series at one frequency.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "common/memory.h"
#include "common/status.h"
#include "recon/envelope.h"

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
// signals adds nothing for it. A series too long for the memory available is
// refused likewise (see prepare_series).
Status recon(std::span<const float> y, int nwin, int p, float dt, int npts, float bndwdth,
             float freq0, int iconstr, std::span<float> rsig);

// What a reconstruction needs of the series that does not depend on the
// frequency: the grid, the anomaly, the eigencoefficients of every bin and the
// tapers at the knots. Prepared once, it serves every signal of the series
// with the same K, p and dt. It also keeps the storage of one signal's run,
// so that each further signal reuses memory already in use.
struct PreparedSeries {
  int npts = 0;  // 0 until prepare_series succeeds
  float dt = 0.0f;
  ReconGrid grid;
  std::vector<float> xdm;  // the series less its mean, npts values
  EnvelopeInputs inputs;
  // Storage of one signal's run (carrier tables, envelopes at the knots, the
  // signal of each envelope pass, the envelope solve).
  std::vector<double> ctab, stab;
  std::vector<float> envr, envi;
  std::array<std::vector<float>, 3> recp;
  EnvelopeWork work;
};

// The bytes a reconstruction of npts values with nwin tapers takes at its
// peak (tapers, their eigenvector solve, the transforms, the stored
// eigencoefficients and one signal's synthesis), an estimate on the high side.
std::uint64_t recon_memory(int npts, int nwin);

// Prepares y[0..npts-1] for reconstructions with K = nwin tapers of
// resolution p and time step dt. Refuses, before any work, what check_recon
// refuses, a y shorter than npts, and a run that needs more memory than
// `available` can give (common/memory.h; the message says how much it would
// need). A refusal leaves `out` empty (out.npts = 0).
Status prepare_series(std::span<const float> y, int nwin, int p, float dt, int npts,
                      PreparedSeries& out,
                      std::optional<std::uint64_t> available = available_memory());

// prepare_series with the K tapers of resolution p for npts points already
// at hand (spectral::taper2's values, taper k from tapers[k·npts] on), as a
// spectrum run of the same series with the same p and K has them: the same
// result without computing them again. An empty span has them computed
// here; a span of any other length than npts·nwin is refused.
Status prepare_series(std::span<const float> y, int nwin, int p, float dt, int npts,
                      std::span<const float> tapers, PreparedSeries& out,
                      std::optional<std::uint64_t> available = available_memory());

// recon for a prepared series: the same signal, bit for bit, as recon on the
// series it was prepared from. Writes rsig as recon does; the series' own
// storage of one signal's run is overwritten. A series not prepared, an rsig
// shorter than npts or a frequency outside 0..Nyquist writes zeros where a
// normal run would have written and returns the reason.
Status recon(PreparedSeries& series, float bndwdth, float freq0, int iconstr,
             std::span<float> rsig);

}  // namespace quorvane::recon

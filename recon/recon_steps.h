// The stages of one reconstruction, for the tests and benchmarks of the
// reconstruction; the rest of the program uses recon/recon.h only.
#pragma once

#include <span>
#include <vector>

#include "recon/envelope.h"
#include "recon/recon.h"
#include "common/status.h"

namespace quorvane::recon {

// Largest series the reconstruction takes: its transform grid, the next power
// of two, must stay an int (2^30 points). Memory refuses far shorter series
// on most machines (see prepare_series).
constexpr int kMaxReconPoints = 1 << 30;
// Tapers the reconstruction can hold.
constexpr int kMaxReconTapers = 16;

// The grid of a run over npts values with K = nwin tapers and time step dt:
// nfft 8192 (or the next power of two above npts), df = 1/(dt·nfft), the
// band from bin 0 to the Nyquist bin, mstep = (npts - 1)/500 + 1 samples per
// knot and L = ceiling(npts/mstep) knots. Arguments as check_recon accepts.
ReconGrid make_grid(int npts, int nwin, float dt);

// Computes the K tapers of resolution p for npts points (or takes
// given_tapers when it holds npts·K values, taper k from k·npts on), the
// anomaly xdm = y - mean (mean summed in single precision, in order) and,
// from the transform of each tapered anomaly padded to nfft, the
// eigencoefficients of bins 0 .. nfft/2 (single precision) and the tapers
// thinned to the knots.
void transform_series(std::span<const float> y, int nwin, int p, int npts, const ReconGrid& grid,
                      std::vector<float>& xdm, EnvelopeInputs& out,
                      std::span<const float> given_tapers = {});

// Weights of the least-norm, least-slope and least-roughness passes.
struct MisfitWeights {
  float wa = 1.0f;
  float wb = 0.0f;
  float wc = 0.0f;
};

// The mixture wa·r1 + wb·r2 + wc·r3 closest to xdm in the sum of squares,
// searched over wa, wb = 0, 0.02, ... (51 values each, accumulated in single
// precision; wa outer, wb inner), wc = 1 - wa - wb within [0, 1]. The first
// strict minimum wins; (1, 0, 0) stands when nothing beats 1.0E36. Reads the
// first xdm.size() entries of r1, r2, r3.
MisfitWeights least_misfit(std::span<const float> r1, std::span<const float> r2,
                           std::span<const float> r3, std::span<const float> xdm);

// recon, also reporting the weights of the least-misfit mixture (left at
// (1, 0, 0) when iconstr != 0 or the call is refused).
Status recon(std::span<const float> y, int nwin, int p, float dt, int npts, float bndwdth,
             float freq0, int iconstr, std::span<float> rsig, MisfitWeights& chosen);

// recon for a prepared series, also reporting the weights.
Status recon(PreparedSeries& series, float bndwdth, float freq0, int iconstr,
             std::span<float> rsig, MisfitWeights& chosen);

}  // namespace quorvane::recon

// The stages of a spectrum run that follow the eigencoefficients, shared by
// every estimator of the engine: the evenly spaced one of spectrum.cc and
// those of records with gaps or uneven steps. An estimator computes the
// eigencoefficients of its band on its own frequency grid and hands them
// here with the tapers' concentrations and sums; these stages then form the
// high-resolution or adaptive estimate, the Monte Carlo levels, the
// jackknife interval, the harmonic F-test, the running median, the red-noise
// fit, the background and the line reshaping, exactly as for an evenly
// spaced series.
#pragma once

#include <array>
#include <functional>
#include <memory_resource>
#include <optional>
#include <span>
#include <vector>

#include "common/status.h"
#include "spectral/estimators.h"
#include "spectral/montecarlo.h"
#include "spectral/spectrum.h"

namespace quorvane::spectral {

// The frequency grid of a run: band entry i lies at f0 + i * df, i = 0 ..
// nf - 1, and the first nfv = nf - 1 entries are estimated.
struct Grid {
  int nfft = 0;        // transform length (evenly spaced estimator)
  float df = 0.0f;     // bin spacing
  int i0 = 0, i1 = 0;  // first and last bin of the band: f0 = i0 * df
  int nf = 0, nfv = 0;
  float f0 = 0.0f;
  int nray = 0;  // the Rayleigh frequency 1/(npts dt) in bins
  int nbw = 0;   // the bandwidth 2 p / (npts dt) in bins
};

// The padded transform length of npts values: the smallest power of two not
// below pad * npts, but at least 1024.
long long transform_length(int npts, int pad);

// The grid of an evenly spaced run with these settings.
Grid frequency_grid(const SpecSettings& settings);

// The checks of check_spec that do not depend on the frequency grid, and
// those that do (a band holding at least one entry, a smoothing width the
// band can hold); check_spec is the first followed by the second on
// frequency_grid(settings). An estimator with a grid of its own checks its
// settings with both, the second on its grid.
Status check_spec_settings(const SpecSettings& settings);
Status check_band(const SpecSettings& settings, const Grid& grid);

// The factor the band entries of the eigencoefficients are divided by: 1,
// npts or 1 / dt for inorm 0, 1 and 2 (1 / dt formed in single precision).
double band_normalisation(const SpecSettings& settings);

// The eigencoefficients of the band, as the evenly spaced estimator forms
// them: for each taper k < nwin, the tapered series x(t) v_k(t), t = 0 ..
// x.size() - 1 (product in single precision, taper k at tapers[k *
// x.size()]), zero-padded to grid.nfft values through fft2's transform;
// bins grid.i0 .. grid.i0 + grid.nfv - 1 divided by norm in double and kept
// in single. out must already hold grid.nfv entries of nwin tapers; every
// one is written. Long transforms share the work with a second thread.
// Work storage comes from memory. `cancelled` is asked before each taper's
// transform; false when it stopped the work (out then partly written).
bool band_eigencoefficients(std::span<const float> x, std::span<const float> tapers, int nwin,
                            const Grid& grid, double norm, Eigencoefficients& out,
                            std::pmr::memory_resource* memory,
                            const std::function<bool()>& cancelled = {});

// The variance scale of the adaptive estimate from the series' sum of
// squares: that sum on the scale of the eigenspectra (divided by npts^2
// for inorm 1, multiplied by dt^2 for inorm 2).
double variance_scale(const SpecSettings& settings, double sum_of_squares);

// What an estimator hands to the shared stages.
struct TaperedBand {
  const Eigencoefficients* coefficients = nullptr;  // grid.nfv entries by K tapers
  std::span<const double> el;                       // concentration of each taper
  std::span<const float> tapsum;                    // sum of each taper's values
  // The variance scale of the adaptive estimate and of its jackknife: the
  // series' sum of squares on the scale of the eigenspectra.
  double sig2 = 0.0;
  // The lag-one coefficient that starts the red-noise hypothesis (0 for the
  // other hypotheses).
  float rho0 = 0.0f;
  // When set, the red-noise coefficient of the background is this value
  // instead of the robust fit to the running median (an estimator whose
  // record gives a better estimate of the persistence than that fit).
  std::optional<float> fixed_rho;
  // When not empty (grid.nfv values), the shape of the red-noise
  // background (inoise 0) at each band entry, of mean 1 over the band:
  // the background is then the level (s0 or s0raw) times this shape
  // instead of the AR(1) curve of rho over a regular step. An estimator of
  // a record with uneven steps passes the spectrum of an AR(1) process on
  // the record's own times.
  std::span<const float> red_shape;
};

// Fills the Monte Carlo levels of the run (as montecarlo_levels); called
// only when settings.surrogates > 0. A refusal refuses the run.
using MonteCarloStage = std::function<Status(MonteCarloLevels& levels)>;

// Runs the shared stages on band into out. Refuses an estimate that
// overflows single precision, or what the Monte Carlo stage refuses; out is
// then left as it was. On success every member of out is written, as spec
// describes. Work storage comes from memory.
Status finish_spectrum(const SpecSettings& settings, const Grid& grid, const TaperedBand& band,
                       const MonteCarloStage& montecarlo, std::pmr::memory_resource* memory,
                       SpecResults& out, const MessageSink& sink);

}  // namespace quorvane::spectral

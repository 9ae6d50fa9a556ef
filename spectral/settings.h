// The settings and results of a spectrum run, their checks and the
// frequency grid they give: the vocabulary every estimator, stage and
// analysis of the engine shares.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "common/status.h"
#include "quorvane/settings.h"

namespace quorvane::spectral {

// Refinements of the levels and of the estimate beyond the dialogue's
// settings; the defaults leave every result as the settings alone give it.
struct SpecRefinements {
  int pad = 1;  // transform length factor 1, 2, 4 or 8 (see check_spec)
  // Concentrations of the computed tapers (taper_concentrations) instead of
  // the asymptotic formula, wherever the estimate weighs the tapers.
  bool exact_concentrations = false;
  // The running median divided by the median-to-mean ratio of the estimate
  // before the background is taken from it.
  bool median_bias_correction = false;
  bool jackknife = false;  // 95 % jackknife interval of the spectrum
  // Monte Carlo levels from this many AR(1) surrogates (0: chi-square
  // levels only), their random seed, and the threads that share them.
  int surrogates = 0;
  std::uint64_t seed = 0;
  int jobs = 1;
  // Asked between the stages of a run (tapers, each taper's transform, the
  // estimate, the levels, the F-test, the median, the background fit) and
  // before each surrogate, from any of the jobs' threads; when it returns
  // true the run is refused as interrupted (interrupted_run). Unlike other
  // refusals, a run stopped after its levels leaves the arrays of out
  // rewritten. Empty: never.
  std::function<bool()> cancelled;
};

// Whether settings.cancelled asks the run to stop.
bool run_cancelled(const SpecRefinements& settings);
// The refusal of a run stopped by its cancellation callback.
Status interrupted_run();

// The analysis settings that the engine reads, with the refinements.
struct SpecSettings : SpecRefinements {
  int nwin = 3;        // number of tapers K
  int p = 2;           // resolution, multiples of the Rayleigh frequency
  float dt = 1.0f;     // sampling interval
  int npts = 0;        // number of values
  float fmin = 0.0f;   // band
  float fmax = 0.5f;
  Noise noise = Noise::red;
  Background background = Background::robust;
  Fit fit = Fit::log;  // misfit of the red-noise fit
  float fsmooth = 0.1f;
  Signal signal = Signal::both;
  Estimate estimate = Estimate::adaptive;
  Normalize normalize = Normalize::none;
  bool reshape = true;  // reshape at the lines detected at level isiglev
  int isiglev = 3;      // 1..6: 50, 90, 95, 99, 99.5, 99.9 %
};

// Whether a run with these settings takes the running median of its
// estimate: for a robust background or for locally-white noise.
bool uses_median(const SpecSettings& settings);

// Everything one spectrum run returns. The frequency-indexed arrays hold the
// band entries; entry i (0-based) lies at frequency f0 + i * df, and the
// first nf - 1 entries are filled.
struct SpecResults {
  int nf = 0;       // band length; nf - 1 entries are filled
  float df = 0.0f;  // bin spacing
  float f0 = 0.0f;  // frequency of the first entry
  std::vector<float> specraw0;   // raw multitaper spectrum
  std::vector<float> specmed0;   // running median of the raw spectrum
  std::vector<float> specresh0;  // reshaped spectrum
  std::vector<float> harmonic0;  // harmonic (line) spectrum
  std::vector<float> specback0;  // noise background
  std::vector<float> ftest;      // harmonic F statistic
  std::array<float, 4> conf{};   // chi-square ratios at 50, 90, 95, 99 %
  std::array<float, 6> fconf{};  // F levels at 50, 90, 95, 99, 99.5, 99.9 %
  int nbw = 0;                   // bandwidth 2W in bins
  // With the jackknife: the 95 % interval of the spectrum estimate (specraw0);
  // empty otherwise.
  std::vector<float> jackknife_lower, jackknife_upper;
  // With Monte Carlo levels: the ratio to specback0 of the 50, 90, 95 and
  // 99 % levels at each entry; empty otherwise (conf holds for every entry).
  std::array<std::vector<float>, 4> montecarlo_conf;
  // With Monte Carlo levels: the band-wide 95 and 99 % ratios, the
  // quantiles of each surrogate's largest ratio to its background over the
  // band (see montecarlo.h); 0 otherwise.
  std::array<float, 2> global_conf{};
  float s0raw = 0.0f, s0 = 0.0f, rho0 = 0.0f, rho = 0.0f, tau0 = 0.0f, tau = 0.0f;
};

// Checks that a run with these settings is possible (at least 2 values, dt
// positive, 1 <= nwin <= 8, p positive, a band inside 0..Nyquist holding at
// least one entry, a smoothing width the band can hold, the series within the
// engine's capacity). The message names the offending value.
// Also refused: more tapers than values, p of half the number of values or
// more (the half-bandwidth would reach the Nyquist frequency), option codes
// outside their ranges, and, when the median is needed (robust background or
// locally-white noise), a negative smoothing width or one wider than the
// band: int(fsmooth / df) above the number of band entries. The length of
// the series is bounded by the memory of the machine (see spec), not here.
// The transform length is max(smallest power of two >= pad * npts, 1024);
// refused: pad other than 1, 2, 4, 8 and a padded length above 2^30; the
// jackknife with one taper; a median bias correction without a median (raw
// background and red or white noise); negative surrogates, jobs below 1,
// and Monte Carlo levels for a harmonic-only analysis (Signal::harmonic), whose
// peaks are judged by the F-test alone.
Status check_spec(const SpecSettings& settings);

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

// The Nyquist frequency of step dt, 0.5 / dt in single precision, as the
// default upper band limit is formed: the frequency scale of the AR(1)
// background for every band.
float nyquist_frequency(float dt);

// The grid of an evenly spaced run with these settings.
Grid frequency_grid(const SpecSettings& settings);

// The band of settings.fmin .. settings.fmax on bins of spacing df: i0,
// i1, nf, nfv and f0 of a grid (each limit taken to the nearest bin below
// it, within a tenth of a bin); the other members are left 0.
Grid band_grid(const SpecSettings& settings, float df);

// The checks of check_spec that do not depend on the frequency grid, and
// those that do (a band holding at least one entry, a smoothing width the
// band can hold); check_spec is the first followed by the second on
// frequency_grid(settings). An estimator with a grid of its own checks its
// settings with both, the second on its grid. check_spec_settings begins
// with check_series_shape: the length and step of the series, the padding
// and the tapers.
Status check_series_shape(const SpecSettings& settings);
Status check_spec_settings(const SpecSettings& settings);
Status check_band(const SpecSettings& settings, const Grid& grid);

// The factor the band entries of the eigencoefficients are divided by: 1,
// npts or 1 / dt for Normalize::none, n and dt (1 / dt formed in single precision),
// sqrt(npts / (2 dt)) for Normalize::density.
double band_normalisation(const SpecSettings& settings);

// The variance scale of the adaptive estimate from the series' sum of
// squares: that sum on the scale of the eigenspectra (divided by npts^2
// for Normalize::n, multiplied by dt^2 for Normalize::dt, by 2 dt / npts for
// Normalize::density).
double variance_scale(const SpecSettings& settings, double sum_of_squares);

}  // namespace quorvane::spectral

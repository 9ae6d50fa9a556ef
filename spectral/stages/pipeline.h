// The stages of a spectrum run that follow the eigencoefficients, shared by
// every estimator of the engine: the evenly spaced one and
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
#include <memory>
#include <memory_resource>
#include <optional>
#include <span>
#include <vector>

#include "common/status.h"
#include "spectral/numerics/fft.h"
#include "spectral/settings.h"
#include "spectral/significance/montecarlo.h"
#include "spectral/stages/eigenspectra.h"
#include "spectral/stages/red_noise.h"

namespace quorvane::spectral {

// The eigencoefficients of the band, as the evenly spaced estimator forms
// them: for each taper k < nwin, the tapered series x(t) v_k(t), t = 0 ..
// x.size() - 1 (product in single precision, taper k at tapers[k *
// x.size()]), zero-padded to grid.nfft values through fft2's transform;
// bins grid.i0 .. grid.i0 + grid.nfv - 1 divided by norm in double and kept
// in single. out must already hold grid.nfv entries of nwin tapers; every
// one is written. Long transforms share the work with a second thread.
// Work storage comes from memory. `cancelled` is asked before each taper's
// transform; false when it stopped the work (out then partly written).
// `plan`, when given, is the transform plan of grid.nfft values to use.
bool band_eigencoefficients(std::span<const float> x, std::span<const float> tapers, int nwin,
                            const Grid& grid, double norm, Eigencoefficients& out,
                            std::pmr::memory_resource* memory,
                            const std::function<bool()>& cancelled = {},
                            const FftPlan* plan = nullptr);

// What a run keeps for the next one in the same memory (see
// WorkArena::kept): the red-noise fit's sums over the last band, and the
// chi-square ratios of the last number of degrees of freedom, whose
// percent points each cost a search.
struct RunKept {
  RedFitCache fit;
  int nu = 0;  // 0: no ratios kept
  std::array<float, 4> conf{};
  // The transform plan of the last run (its twiddles and tables).
  std::unique_ptr<FftPlan> fft;
};

// What an estimator hands to the shared stages.
struct TaperedBand {
  const Eigencoefficients* coefficients = nullptr;  // grid.nfv entries by K tapers
  std::span<const double> el;                       // concentration of each taper
  std::span<const float> tapsum;                    // sum of each taper's values
  // The variance scale of the adaptive estimate and of its jackknife: the
  // series' sum of squares on the scale of the eigenspectra.
  double sig2 = 0.0;
  // The weights of the high-resolution estimate and of its jackknife.
  HiresWeights hires_weights = HiresWeights::inverse_concentration;
  // The lag-one coefficient that starts the red-noise hypothesis (0 for the
  // other hypotheses).
  float rho0 = 0.0f;
  // When set, the level of the raw red-noise background (the AR(1) curve of
  // rho0): the estimate's mean over the whole band 0 .. Nyquist, for a band
  // that is only part of it. Like rho0 it then describes the series, not the
  // band, and zooming in leaves that background as it was. Unset, the
  // level is the one whose mean over the band is the band's mean.
  std::optional<float> whole_raw_level;
  // When set, the red-noise coefficient of the background is this value
  // instead of the robust fit to the running median (an estimator that has
  // fitted it with sampled_red_fit).
  std::optional<float> fixed_rho;
  // What runs in the same memory keep for the next one (none: nothing
  // kept).
  RunKept* kept = nullptr;
  // When not empty (grid.nfv values), the shape of the red-noise
  // background (Noise::red) at each band entry: the background is then the
  // level (s0 or s0raw) times this shape instead of the AR(1) curve of rho
  // over a regular step. An estimator of a record with uneven steps passes
  // the spectrum of the unit-variance AR(1) process of coefficient
  // fixed_rho on the record's own times.
  std::span<const float> red_shape;
  // When not empty (grid.nfv values), the spectrum estimate of these
  // coefficients and its running median (band_median, bias-corrected as
  // the settings say) already made by sampled_red_fit, taken as they are.
  std::span<const float> estimate, median;
};

// What sampled_red_fit made on its way that the run makes again.
struct SampledFitWork {
  std::pmr::vector<float> estimate, median;
};

// The spectrum of the unit-variance AR(1) process of coefficient rho (at
// the step settings.dt) as a record's sampling shows it, at each of the
// grid.nfv band entries, into shape; on a regular step the AR(1) curve
// (1 - rho^2) / (1 - 2 rho cos(2 pi f dt) + rho^2).
using SampledRedShape = std::function<void(float rho, std::span<float> shape)>;

// The red-noise coefficient of a record whose AR(1) spectrum depends on
// its sampling: the one whose spectrum, as `shape` gives it, fits the
// running median of band's estimate (the robust background's median, with
// the settings' smoothing width and median-bias correction, whatever
// settings.background says). The fit is red_noise_grid_fit's, of the AR(1)
// curve in f dt (the Nyquist frequency 0.5 / dt, not the band's top, sets
// its scale), to the median divided by the sampling's departure from that
// curve, shape(rho) / curve(rho); starting from `start` (an estimate of
// the persistence in the time domain), the departure is taken at the last
// fit until the fit lies within 0.005 of the value it was taken at or
// repeats one (at most 10 fits), and `start` is the fallback where the fit
// finds none. An estimate that overflows single
// precision gives `start` (the run refuses it later). With `work`, the
// spectrum estimate it fits to and its running median are left there for
// the run to reuse (empty where the estimate overflowed).
float sampled_red_fit(const SpecSettings& settings, const Grid& grid, const TaperedBand& band,
                      float start, const SampledRedShape& shape,
                      std::pmr::memory_resource* memory, SampledFitWork* work = nullptr);

// The eigencoefficients of the band, as band_eigencoefficients forms them,
// into out (grid.nfv entries of nwin tapers); band.coefficients is set to
// &out. When the raw red-noise background is asked for (red noise, raw
// background, signal not harmonic) and the band is only part of 0 .. Nyquist, the
// transform's bins from 0 are kept too and the estimate band asks for (its
// el, sig2 and weights must already be set) is formed on them: its mean over
// the entries of the band 0 .. nyquist_frequency(dt), summed as the run of
// that band sums it, goes to band.whole_raw_level when it is finite. Those
// bins come from the same transforms, so the whole band costs only their
// eigencoefficients (in out's storage, the band's entries then moved to its
// front) and their estimate. False when settings.cancelled stopped the
// transforms (out then partly written).
bool tapered_band(std::span<const float> x, std::span<const float> tapers,
                  const SpecSettings& settings, const Grid& grid, TaperedBand& band,
                  Eigencoefficients& out, std::pmr::memory_resource* memory);

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

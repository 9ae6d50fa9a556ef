// The multitaper spectrum of a record with uneven steps: the multitaper
// Lomb-Scargle estimate of Springford, Eadie & Thomson (2020), Astron. J.
// 159:205, with the weighting, F-test, background and levels of the evenly
// spaced engine.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "common/status.h"
#include "spectral/settings.h"

namespace quorvane::spectral {

class WorkArena;

// The times of a record and what the estimator prepares from them once:
// the tapers at the times and the non-uniform transform onto the run's
// frequency grid. The estimate is that of spec with three differences:
// - the span T = time.back() - time.front() + dt (dt = settings.dt, the
//   median step; N dt for an evenly spaced record), the grid spacing
//   df = 1 / (T pad) and the band settings.fmin .. settings.fmax (at most
//   0.5 / dt), entry i at (i0 + i) df as in spec; the Rayleigh frequency
//   is 1 / T, so the bandwidth spans 2 p pad entries;
// - the tapers are the K Slepian sequences of time-bandwidth p on a regular
//   grid of M = max(N, 1024) cells over the span, evaluated at the actual
//   times by four-point Lagrange interpolation and rescaled so that each
//   one's sum of squares over the samples is N (on an evenly spaced record
//   they are spec's tapers); their concentrations are those of the grid
//   tapers (asymptotic, or computed with exact_concentrations);
// - the eigencoefficients are the non-uniform transforms
//   Y_k(f) = sum_j v_k(t_j) x_j exp(+2 pi i f (t_j - t_0)) of the demeaned
//   values, divided by the normalisation factor as in spec.
// The red-noise hypothesis (Noise::red) models the noise as the AR(1)
// process of coefficient rho at step dt (persistence time tau = -dt / ln
// rho) sampled at the record's times; its spectrum there (on an evenly
// spaced record the AR(1) curve of rho, Schulz & Mudelsee 2002, Comput.
// Geosci. 28:421; see uneven.cc) is the shape of the background. rho is
// fitted to the running median of the spectrum (sampled_red_fit, whatever
// the background), starting from rho0 = exp(-dt / tau0), the persistence
// time tau0 of the values on their own times (persistence_time), which is
// also the fallback. The background is that shape times the mean of the
// running median (robust background) or of the raw spectrum (raw
// background). The other hypotheses are those of spec. Monte Carlo
// levels come from AR(1) surrogates of persistence time tau (white for the
// other hypotheses) and the values' variance on the same times, each
// analysed by this same plan and settings, its own fit included, so that
// the levels carry the effect of the sampling.
// The Slepian tapers of a regular grid of `cells` cells over a span, and
// their concentrations (grid_tapers): what UnevenPlan::make evaluates at a
// record's times. Computed once, they serve every record of those tapers,
// such as the windows of an evolutive spectrum.
struct GridTapers {
  int cells = 0, nwin = 0;
  float p = 0.0f;
  bool exact = false;     // concentrations computed, not asymptotic
  std::vector<float> v;   // taper k at v[k * cells ..]
  std::vector<double> el;
};

// The tapers of `cells` cells with the nwin, p and kind of concentrations
// of settings.
void grid_tapers(int cells, const SpecSettings& settings, GridTapers& out);

class UnevenPlan {
 public:
  UnevenPlan();
  ~UnevenPlan();
  UnevenPlan(UnevenPlan&&) noexcept;
  UnevenPlan& operator=(UnevenPlan&&) noexcept;

  // Prepares the runs of settings at these times (settings.npts of them,
  // finite and strictly increasing, in double precision; the caller has put
  // decreasing ages in increasing order). Refused: settings that
  // check_spec_settings refuses, times that are not one per value, not finite or not
  // strictly increasing, a band holding no entry of the grid or more than
  // 2^28 entries, a smoothing width the band cannot hold, a plan that needs
  // more memory than the machine has available; out is then left as it
  // was. The plan keeps its own copy of the times.
  // With grid_span, the frequency grid is that of a record of this span
  // (spacing 1 / (grid_span pad)) while the tapers stay on the record's own
  // span, so that records of slightly different spans (the chronologies of
  // one age ensemble) share one grid; the bandwidth and Rayleigh frequency
  // in grid entries follow the ratio of the spans, rounded. A grid_span
  // equal to the record's own gives the plan without it.
  // With `tapers` (of the settings' nwin, p and concentrations), those grid
  // tapers are evaluated at the times instead of the max(N, 1024) cells'.
  // With `like`, a plan of the same band (another window of one record),
  // the transforms' tables that depend on the band alone are shared with it.
  static Status make(std::span<const double> time, const SpecSettings& settings, UnevenPlan& out,
                     std::optional<double> grid_span = std::nullopt,
                     const GridTapers* tapers = nullptr, const UnevenPlan* like = nullptr);

  // One run on values y (one per time) with settings that share the plan's
  // grid and tapers (npts, dt, nwin, p, pad, fmin, fmax and kind of
  // concentrations) and may differ in all else. Refused: other settings
  // (check_spec_settings, or a grid or tapers of their own), a y of
  // another length or with a value that is not finite, what the
  // persistence estimate refuses under the red-noise hypothesis (fewer
  // than 10 values), memory running out, an estimate that overflows single
  // precision; out is then left as it was. On success every member of out
  // is written as spec describes; a constant series is white (rho0 = 0).
  // Safe to call from several threads at once; work memory comes from
  // `memory` (one per thread) or, without one, from the run's own.
  Status run(std::span<const float> y, const SpecSettings& settings, SpecResults& out,
             const MessageSink& sink = {}, WorkArena* memory = nullptr) const;

  std::span<const double> times() const { return time_; }

 private:
  struct Prepared;
  std::vector<double> time_;
  std::unique_ptr<Prepared> prepared_;
};

// The K tapers of a regular grid of `cells` cells over a span of length
// `span` (grid_v, taper k at grid_v[k * cells ..]) at increasing times
// inside it, cell c centred at (c + 1/2) span / cells - half after
// `origin`: four-point Lagrange interpolation, each taper then rescaled so
// that its sum of squares over the times is their number. Writes taper k at
// time j to v[k * time.size() + j] and each taper's sum to tapsum[k]. The
// estimator above takes its record's tapers from here, and so does the
// cross-spectrum of two records on their own times, each from the tapers
// of the span both share.
void sampled_tapers(std::span<const float> grid_v, int cells, int nwin,
                    std::span<const double> time, double origin, double half, double span,
                    std::span<float> v, std::span<float> tapsum);

// One run: UnevenPlan::make on these times and settings, then run on y.
// y[j] is observed at time[j]; settings.npts = the number of values,
// settings.dt = the median step.
Status spec_uneven(std::span<const double> time, std::span<const float> y,
                   const SpecSettings& settings, SpecResults& out, const MessageSink& sink = {});

}  // namespace quorvane::spectral

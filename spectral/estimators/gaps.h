// The missing-data multitaper spectrum of a record on a regular grid with
// samples missing (Chave 2019, Geophys. J. Int. 218:2165; Bronez 1988,
// IEEE Trans. ASSP 36:1862): the tapers are the Slepian sequences best
// concentrated in the band among those that vanish where no sample was
// taken (gap_tapers), and the spectrum is formed from them as the evenly
// spaced engine forms it, on the frequency grid of the full span.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "common/status.h"
#include "spectral/numerics/gap_tapers.h"
#include "spectral/settings.h"
#include "spectral/stages/pipeline.h"

namespace quorvane::spectral {

class WorkArena;

// The grid positions of a record and what the estimator prepares from them
// once: the missing-data tapers and the frequency grid. The estimate is
// that of spec on the full grid of settings.npts positions (the missing
// ones holding zeros after the mean of the samples present is taken off),
// with these differences:
// - the tapers are gap_tapers' (each with a sum of squares of npts, so that
//   the spectrum of a record with gaps lies on the scale of the complete
//   record's), and their concentrations are the eigenvalues of the
//   missing-data problem whatever settings.exact_concentrations says: the
//   asymptotic formula is that of a complete span and overstates the
//   concentration of tapers that must vanish in the gaps;
// - the high-resolution estimate weighs the eigenspectra by 1 / el scaled
//   to a sum of 1 (HiresWeights::unit_sum), since dividing by K el would
//   lift it by the mean of 1 / el above the complete record's level;
// - the variance of the adaptive weighting is that of the samples present;
// - the red-noise hypothesis (Noise::red) starts its fit from the lag-one
//   coefficient exp(-dt / tau) of the persistence time tau estimated on the
//   samples' own times (persistence_time, which bridges the gaps), instead
//   of the lag-one autocorrelation of a contiguous series;
// - Monte Carlo levels come from AR(1) surrogates of persistence time tau
//   (white under the other hypotheses) and the samples' variance, drawn at
//   the grid positions present only and analysed by this same plan, so that
//   the levels carry the effect of the gaps.
class GapsPlan {
 public:
  // Prepares the runs of settings (settings.npts grid positions of step
  // settings.dt) on the samples at grid positions `index` (strictly
  // increasing, each in 0 .. npts - 1). Refused: settings that
  // check_spec_settings or check_band refuse, positions that gap_tapers
  // refuses (also more tapers than samples present), a plan that needs more
  // memory than the machine has available; out is then left as it was.
  static Status make(std::span<const std::int64_t> index, const SpecSettings& settings,
                     GapsPlan& out);

  // One run on values y (one per position of the plan) with settings that
  // share the plan's grid and tapers (npts, dt, nwin, p, pad, fmin, fmax)
  // and may differ in all else. Refused: other settings, a y of another
  // length or with a value that is not finite, what the persistence
  // estimate refuses under the red-noise hypothesis (fewer than 10 values),
  // memory running out, an estimate that overflows single precision; out is
  // then left as it was. On success every member of out is written as spec
  // describes. Safe to call from several threads at once; work memory comes
  // from `memory` (one per thread) or, without one, from the run's own.
  Status run(std::span<const float> y, const SpecSettings& settings, SpecResults& out,
             const MessageSink& sink = {}, WorkArena* memory = nullptr) const;

  const GapTapers& tapers() const { return tapers_; }

 private:
  std::vector<std::int64_t> index_;
  std::vector<double> time_;  // index * dt: the samples' times from the first grid position
  SpecSettings geometry_;
  Grid grid_;
  GapTapers tapers_;
};

// One run: GapsPlan::make on these positions and settings, then run on y.
// y[j] is observed at grid position index[j] of a regular grid of step
// settings.dt; settings.npts is the number of grid positions (index.back()
// + 1 for a record that ends with a sample), so that the frequency grid and
// the bandwidth are those of the full span.
Status spec_gaps(std::span<const std::int64_t> index, std::span<const float> y,
                 const SpecSettings& settings, SpecResults& out, const MessageSink& sink = {});

}  // namespace quorvane::spectral

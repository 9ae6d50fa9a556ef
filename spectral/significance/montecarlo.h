// Monte Carlo significance levels: the spectrum-to-background ratios of
// AR(1) surrogate series run through the same analysis chain as the series.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "common/status.h"
#include "spectral/settings.h"
#include "spectral/significance/surrogates.h"

namespace quorvane::spectral {

// The value below which a fraction q of the sample lies, taken at rank
// h = (M + 1) q of the M sorted values (interpolated between neighbouring
// ranks, clamped to the smallest and largest value). With this rank a new
// value from the same distribution exceeds the quantile with probability
// 1 - q whatever M is, when (M + 1) q is a whole number (M = 99, 999, ...).
// `sorted` must be in ascending order and not empty.
float empirical_quantile(std::span<const float> sorted, double q);

// The levels a Monte Carlo run gives: at each band entry, the 50, 90, 95 and
// 99 % quantiles of the surrogates' ratios of raw spectrum over background
// (nf entries each, the last one 0); and the band-wide 95 and 99 %
// levels, the quantiles of each surrogate's largest ratio over the band.
// A peak above a band-wide level is significant for the whole spectrum,
// not only at its own frequency, which is what a cycle nobody predicted
// needs (Vaughan, Bailey & Smith 2011, Paleoceanography 26, PA4211).
struct MonteCarloLevels {
  std::array<std::vector<float>, 4> local;
  std::array<float, 2> band_wide{};
};

// The analysis of one surrogate by one worker thread: draws the surrogate
// from `random` and fills `results` with its spectrum (specraw0) and
// background (specback0) on the run's grid (nf entries, the same for
// every surrogate). A refusal stops the run.
using SurrogateWorker = std::function<Status(RandomStream& random, SpecResults& results)>;

// The levels of `surrogates` surrogates, surrogate m drawn from
// RandomStream(seed, m), analysed by workers that make_worker gives: it is
// called once in each of the jobs threads (the caller's included), from
// that thread, so each worker keeps its own work memory; it must be safe to
// call from several threads at once. The quantiles are those of
// empirical_quantile, taken once every surrogate is done, so the levels are
// the same for any number of jobs. A zero background gives ratio 0, as in
// the peak search, and so does a ratio that is not finite.
// On refusal (surrogates < 1, jobs < 1, a worker's refusal, memory running
// out, `cancelled` returning true before a surrogate) out is left as it was.
Status surrogate_levels(int surrogates, std::uint64_t seed, int jobs,
                        const std::function<SurrogateWorker()>& make_worker,
                        MonteCarloLevels& out, const std::function<bool()>& cancelled = {});

// The settings of a surrogate's run: those of the series without Monte
// Carlo levels and jackknife, which the levels do not read.
SpecSettings surrogate_settings(const SpecSettings& settings);

class WorkArena;

// An estimator plan's run on values y, its work memory from `memory` (one
// arena per thread), as GapsPlan::run and UnevenPlan::run take it.
using PlanRun = std::function<Status(std::span<const float> y, const SpecSettings& settings,
                                     SpecResults& out, WorkArena* memory)>;

// The levels (surrogate_levels, with the settings' surrogates, seed, jobs
// and cancellation) of a record analysed by an estimator plan on its own
// times: the surrogates are the AR(1) process of persistence time tau and
// variance `variance` sampled at `time` (ar1_surrogate_on_times, one value
// per time), each analysed by `run` with surrogate_settings(settings).
// Every worker keeps its work memory and surrogate from one surrogate to
// the next.
Status levels_on_times(std::span<const double> time, double tau, double variance,
                       const SpecSettings& settings, const PlanRun& run, MonteCarloLevels& out);

}  // namespace quorvane::spectral

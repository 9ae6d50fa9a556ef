// The Monte Carlo levels of an estimator plan on a record's own times, for
// the plans of records with gaps or uneven steps.
#pragma once

#include <span>

#include "common/status.h"
#include "spectral/settings.h"
#include "spectral/significance/montecarlo.h"

namespace quorvane::spectral {

// levels_on_times with the runs of an estimator plan that has
// run(y, settings, out, sink, memory) (GapsPlan, UnevenPlan).
template <class Plan>
Status plan_levels_on_times(const Plan& plan, std::span<const double> time, double tau,
                            double variance, const SpecSettings& settings,
                            MonteCarloLevels& out) {
  const PlanRun run = [&plan](std::span<const float> y, const SpecSettings& plain,
                              SpecResults& results, WorkArena* memory) {
    return plan.run(y, plain, results, {}, memory);
  };
  return levels_on_times(time, tau, variance, settings, run, out);
}

}  // namespace quorvane::spectral

// The ensemble analysis that the command line and the library share: the
// record's settings as a spectrum of its first chronology would have them,
// over the band every member holds, then the engine's run on every member.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "api/analysis_record.h"
#include "api/options.h"
#include "common/status.h"
#include "quorvane/ensemble.h"

namespace quorvane::api {

struct EnsembleRequest {
  double agreement = 0.5;
  bool members = false;  // keep every member's spectrum
  int jobs = 1;
  std::function<bool()> cancelled;
};

// The generated age models (see counted_age_model and tiepoint_age_model),
// with their description.
Status counted_model(std::span<const double> counted, double missed, double doubled,
                     std::size_t members, std::uint64_t seed, AgeModel& out);
Status tiepoint_model(std::span<const double> depth, std::span<const double> tie_depth,
                      std::span<const double> tie_age, std::span<const double> tie_sigma,
                      std::size_t members, std::uint64_t seed, AgeModel& out);

// Analyses `values` (one per sample) on every member of `ages` with the
// analysis and significance options given (named in the style of
// `naming` in a refusal). The settings are those a spectrum of the first
// member with strictly increasing ages gets, the band defaulting to 0 up to
// the Nyquist frequency of the coarsest member's median step; `record`
// receives them. Refused: values and samples of different numbers, Monte
// Carlo levels or the jackknife, what the engine refuses.
Status run_ensemble(const std::string& name, std::span<const float> values, const AgeModel& ages,
                    const AnalysisOptions& a, const SignificanceOptions& g, Naming naming,
                    const EnsembleRequest& request, Ensemble& out, AnalysisRecord& record);

}  // namespace quorvane::api

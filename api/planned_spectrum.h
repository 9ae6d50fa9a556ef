// The public spectrum run with an optional session, shared by
// quorvane::spectrum and the spectrum plan of include/quorvane/plan.h.
#pragma once

#include <functional>

#include "api/analysis_record.h"
#include "quorvane/plan.h"
#include "quorvane/spectrum.h"
#include "spectral/estimators/even.h"

namespace quorvane::api {

// Sees a run once its series is prepared and its engine settings are known,
// before anything is computed: a refusal refuses the call; setting `stop`
// ends the call there with an empty Spectrum (a caller that wanted only the
// settings).
using RunAdmission = std::function<Status(const AnalysisRecord& r,
                                          const spectral::SpecSettings& engine, bool& stop)>;

// quorvane::spectrum(series, settings), with `session`'s tapers and memory
// for the evenly spaced engine when it is given (the same results). Without
// `lines`, the peaks' line columns stay NaN and nothing else changes.
// `known`: the sampling of the series' times from an earlier run on the
// same times (see input::prepare_series).
Result<Spectrum> session_spectrum(const Series& series, const Settings& settings,
                                  spectral::SpecSession* session, const RunAdmission& admit,
                                  bool lines = true, const spectral::Sampling* known = nullptr);

// The library's own calls of a plan: quorvane::spectrum(plan, series,
// cancelled), with or without the peaks' lines (see session_spectrum).
struct PlanRun {
  static Result<Spectrum> spectrum(const SpectrumPlan& plan, const Series& series,
                                   const std::function<bool()>& cancelled, bool lines);
};

}  // namespace quorvane::api

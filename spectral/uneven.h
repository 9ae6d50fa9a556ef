// The multitaper Lomb-Scargle spectrum of an unevenly sampled record.
#pragma once

#include <span>

#include "common/status.h"
#include "spectral/spectrum.h"

namespace quorvane::spectral {

// y[j] observed at time[j] (strictly increasing, double precision);
// settings.npts is the number of values and settings.dt the median step.
// The span is time.back() - time.front() + settings.dt; the band runs from
// settings.fmin to settings.fmax (at most 0.5 / dt). Results as spec's.
Status spec_uneven(std::span<const double> time, std::span<const float> y,
                   const SpecSettings& settings, SpecResults& out, const MessageSink& sink = {});

}  // namespace quorvane::spectral

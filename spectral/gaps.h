// The missing-data multitaper spectrum of a record on a regular grid with
// samples missing.
#pragma once

#include <cstdint>
#include <span>

#include "common/status.h"
#include "spectral/spectrum.h"

namespace quorvane::spectral {

// y[j] observed at grid position index[j] of a regular grid of step
// settings.dt (index strictly increasing, index[0] == 0); settings.npts is
// the number of grid positions, index.back() + 1, so that the frequency
// grid and the bandwidth are those of the full span. Results as spec's.
Status spec_gaps(std::span<const std::int64_t> index, std::span<const float> y,
                 const SpecSettings& settings, SpecResults& out, const MessageSink& sink = {});

}  // namespace quorvane::spectral

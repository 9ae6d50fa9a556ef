// Quorvane as a library: multitaper spectral analysis of time series.
//
//   auto series = quorvane::read("sunspots.dat", "single");
//   auto result = quorvane::spectrum(series->front());
//   if (!result) std::cerr << result.message() << "\n";
//   for (const quorvane::Peak& peak : result->peaks) ...
//
// The functions refuse bad input with a Status whose message is in the
// program's own words; none prints, and none keeps state between calls
// (a SpectrumPlan keeps the tapers and memory of one length explicitly).
// Each is safe to call from several threads at once.
#pragma once

#include "quorvane/coherence.h"
#include "quorvane/batch.h"
#include "quorvane/ensemble.h"
#include "quorvane/evolutive.h"
#include "quorvane/plan.h"
#include "quorvane/reconstruct.h"
#include "quorvane/series.h"
#include "quorvane/settings.h"
#include "quorvane/spectrum.h"
#include "quorvane/status.h"
#include "quorvane/version.h"

// A spectrum run made by hand for the tests of the result tables and of
// their plots.
#pragma once

#include "api/analysis_record.h"

namespace quorvane::api::testing {

// A run of three tapers with nf = 4 (three band entries from 0.5 in steps of
// 0.25) and chi-square levels; the engine's arrays hold one entry more than
// the band, as it leaves them.
inline AnalysisRecord spectrum_run() {
  AnalysisRecord r;
  r.nwin = 3;
  spectral::SpecResults& s = r.spectra;
  s.nf = 4;
  s.f0 = 0.5f;
  s.df = 0.25f;
  s.specraw0 = {8.0f, 4.0f, 2.0f, 99.0f};
  s.specresh0 = {7.0f, 3.0f, 1.0f, 99.0f};
  s.harmonic0 = {0.0f, 1.0f, 0.5f, 99.0f};
  s.specmed0 = {6.0f, 5.0f, 4.0f, 99.0f};
  s.specback0 = {2.0f, 4.0f, 0.5f, 99.0f};
  s.ftest = {1.0f, 9.0f, 3.0f, 99.0f};
  s.conf = {0.5f, 1.5f, 2.0f, 3.0f};
  s.fconf = {0.75f, 3.25f, 5.0f, 10.5f, 14.5f, 27.0f};
  return r;
}

}  // namespace quorvane::api::testing

// Settings shared by the engine's tests.
#pragma once

#include <algorithm>

#include "spectral/estimators/even.h"

namespace quorvane::spectral::test_support {

// The settings the dialogue starts from for a series of npts values at step
// dt: the band up to the Nyquist frequency and a smoothing width of a fifth
// of it, at least four Rayleigh frequencies.
inline SpecSettings settings_for(int npts, float dt = 1.0f) {
  SpecSettings s;
  s.npts = npts;
  s.dt = dt;
  s.fmax = 0.5f / dt;
  s.fsmooth = std::max(s.fmax / 5.0f, 4.0f / (static_cast<float>(npts) * dt));
  return s;
}

}  // namespace quorvane::spectral::test_support

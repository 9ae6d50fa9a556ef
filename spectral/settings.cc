#include "spectral/settings.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "spectral/numerics/tapers.h"

namespace quorvane::spectral {

namespace {

// The largest transform the engine's indexing holds, and so the longest
// series (each transform vector then takes 8 GiB; the memory check refuses
// far shorter series on most machines).
constexpr int kMaxTransform = 1 << 30;
constexpr int kMaxTapers = 8;

// Short general form of a value for messages.
std::string show(double value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%g", value);
  return buffer;
}

bool one_of(int value, int first, int last) { return value >= first && value <= last; }

}  // namespace

bool run_cancelled(const SpecRefinements& s) { return s.cancelled && s.cancelled(); }

bool uses_median(const SpecSettings& s) {
  return s.background == Background::robust || s.noise == Noise::local;
}

Status interrupted_run() { return Status::interrupted("The run was interrupted."); }

double band_normalisation(const SpecSettings& s) {
  // The tapers carry a sum of squares npts, so the estimate of white noise
  // lies near npts times its variance at every frequency; 2 dt / npts makes
  // that a one-sided density whose band 0 .. 1/(2 dt) holds the variance.
  if (s.normalize == Normalize::density)
    return std::sqrt(static_cast<double>(s.npts) / (2.0 * static_cast<double>(s.dt)));
  return s.normalize == Normalize::dt   ? static_cast<double>(1.0f / s.dt)
         : s.normalize == Normalize::n ? static_cast<double>(static_cast<float>(s.npts))
                        : 1.0;
}

double variance_scale(const SpecSettings& s, double sum_of_squares) {
  if (s.normalize == Normalize::n) {
    return sum_of_squares / (static_cast<double>(s.npts) * static_cast<double>(s.npts));
  }
  if (s.normalize == Normalize::dt) return sum_of_squares * static_cast<double>(s.dt) * static_cast<double>(s.dt);
  if (s.normalize == Normalize::density) {
    const double norm = band_normalisation(s);
    return sum_of_squares / (norm * norm);
  }
  return sum_of_squares;
}

Status check_series_shape(const SpecSettings& s) {
  if (s.npts < 2) {
    return Status::failure("The series has " + std::to_string(s.npts) +
                           (s.npts == 1 ? " value" : " values") +
                           "; at least 2 are needed for a spectrum.");
  }
  if (s.npts > kMaxTransform) {
    return Status::failure("The series has " + std::to_string(s.npts) +
                           " values; the spectrum engine takes at most " +
                           std::to_string(kMaxTransform) + ".");
  }
  if (!(s.dt > 0.0f) || !std::isfinite(s.dt)) {
    return Status::failure("The sampling interval must be positive (it is " + show(s.dt) + ").");
  }
  if (s.pad != 1 && s.pad != 2 && s.pad != 4 && s.pad != 8) {
    return Status::failure("The padding factor must be 1, 2, 4 or 8 (it is " +
                           std::to_string(s.pad) + ").");
  }
  const long long padded = transform_length(s.npts, s.pad);
  if (padded > kMaxTransform) {
    return Status::failure("Padding " + std::to_string(s.npts) + " values by " +
                           std::to_string(s.pad) + " needs a " + std::to_string(padded) +
                           "-point transform; the spectrum engine does at most " +
                           std::to_string(kMaxTransform) + ".");
  }
  // The bin spacings of the run's transform and of the shortest one, and
  // the Rayleigh frequency, must be representable.
  const float smallest_df = 1.0f / (static_cast<float>(padded) * s.dt);
  const float largest_df = 1.0f / (1024.0f * s.dt);
  if (!(smallest_df > 0.0f) || !std::isfinite(largest_df) ||
      !std::isfinite(1.0f / (static_cast<float>(std::max(s.npts, 1)) * s.dt))) {
    return Status::failure("The sampling interval " + show(s.dt) +
                           " is too large or too small for a spectrum.");
  }
  return check_taper_arguments(s.npts, s.nwin, s.p, kMaxTapers);
}

Status check_spec_settings(const SpecSettings& s) {
  if (Status status = check_series_shape(s); !status) return status;
  if (!one_of(s.isiglev, 1, 6)) {
    return Status::failure("The significance level index must be from 1 to 6 (it is " +
                           std::to_string(s.isiglev) + ").");
  }
  if (!(s.fmin >= 0.0f) || !std::isfinite(s.fmin)) {
    return Status::failure("The lower band limit must not be negative (it is " + show(s.fmin) + ").");
  }
  if (!(s.fmin < s.fmax) || !std::isfinite(s.fmax)) {
    return Status::failure("The band is empty: fmin (" + show(s.fmin) + ") must lie below fmax (" +
                           show(s.fmax) + ").");
  }
  // The default upper limit is the Nyquist frequency; allow a few units of
  // rounding above it.
  const float nyquist = nyquist_frequency(s.dt);
  if (s.fmax > nyquist * (1.0f + 4.0e-7f)) {
    return Status::failure("The upper band limit " + show(s.fmax) +
                           " lies above the Nyquist frequency " + show(nyquist) + ".");
  }
  if (s.jackknife && s.nwin < 2) {
    return Status::failure("The jackknife interval needs at least 2 tapers (there is 1).");
  }
  if (s.median_bias_correction && !uses_median(s)) {
    return Status::failure("The median bias correction applies to the median-smoothed spectrum,"
                           " which the raw background does not use.");
  }
  if (s.surrogates < 0) {
    return Status::failure("The number of surrogates must not be negative (it is " +
                           std::to_string(s.surrogates) + ").");
  }
  if (s.jobs < 1) {
    return Status::failure("The number of jobs must be positive (it is " +
                           std::to_string(s.jobs) + ").");
  }
  if (s.surrogates > 0 && s.signal == Signal::harmonic) {
    return Status::failure("Monte Carlo levels judge the spectrum against its background; a"
                           " harmonic-only analysis judges lines by the F-test alone.");
  }
  return Status::success();
}

Status check_band(const SpecSettings& s, const Grid& g) {
  if (g.nfv < 1) {
    return Status::failure("The band from " + show(s.fmin) + " to " + show(s.fmax) +
                           " holds no frequency of the spectrum (spacing " + show(g.df) +
                           "); widen it.");
  }
  if (uses_median(s)) {
    if (!(s.fsmooth >= 0.0f) || !std::isfinite(s.fsmooth)) {
      return Status::failure("The smoothing width must not be negative (it is " +
                             show(s.fsmooth) + ").");
    }
    const double entries = std::floor(static_cast<double>(s.fsmooth / g.df));
    if (entries > g.nfv) {
      return Status::failure("The smoothing width " + show(s.fsmooth) + " spans " + show(entries) +
                             " frequencies, more than the " + std::to_string(g.nfv) +
                             " of the band; choose at most " + show(g.nfv * g.df) + ".");
    }
  }
  return Status::success();
}

Status check_spec(const SpecSettings& s) {
  if (Status status = check_spec_settings(s); !status) return status;
  return check_band(s, frequency_grid(s));
}

// 2^b, b the number of halvings that take pad * npts - 1 to zero.
long long transform_length(int npts, int pad) {
  int b = 0;
  for (long long rest = static_cast<long long>(pad) * npts - 1; rest > 0; rest /= 2) ++b;
  return std::max(1LL << b, 1024LL);
}

float nyquist_frequency(float dt) { return 0.5f / dt; }

Grid band_grid(const SpecSettings& s, float df) {
  Grid g;
  g.df = df;
  g.i0 = static_cast<int>((s.fmin + 0.1f * g.df) / g.df);
  g.i1 = static_cast<int>((s.fmax + 0.1f * g.df) / g.df);
  g.nf = g.i1 - g.i0 + 1;
  g.nfv = g.nf - 1;
  g.f0 = static_cast<float>(g.i0) * g.df;
  return g;
}

Grid frequency_grid(const SpecSettings& s) {
  const int nfft = static_cast<int>(transform_length(s.npts, s.pad));
  Grid g = band_grid(s, 1.0f / (static_cast<float>(nfft) * s.dt));
  g.nfft = nfft;
  const float rayleigh = 1.0f / (static_cast<float>(s.npts) * s.dt);
  g.nray = static_cast<int>(rayleigh / g.df);
  g.nbw = static_cast<int>(2.0f * static_cast<float>(s.p) * rayleigh / g.df);
  return g;
}

}  // namespace quorvane::spectral

// Signals rebuilt in the time domain from the spectrum's tapers.
#pragma once

#include <string>
#include <vector>

#include "quorvane/series.h"
#include "quorvane/spectrum.h"
#include "quorvane/status.h"

namespace quorvane {

enum class Constraint { misfit, norm, slope, rough };  // least misfit, norm, slope, roughness

// Which signals to rebuild: the peaks at or above `level` percent that are
// not trend, the trend, or the given frequencies (0 to the Nyquist
// frequency; below the bandwidth one rebuilds the trend).
struct ReconstructOptions {
  enum class Signals { peaks, trend, frequencies };
  Signals signals = Signals::peaks;
  std::vector<double> frequencies;  // Signals::frequencies, at most 100
  double level = 99.0;
  Constraint constraint = Constraint::misfit;
};

// One rebuilt signal.
struct RebuiltSignal {
  float frequency = 0.0f;
  std::string name;           // "trend" or "f_" and the frequency
  std::vector<float> values;  // one per value of the series
};

// The reconstruction: the columns of the recon CSV of `quorvane analyse`.
struct Reconstruction {
  std::vector<double> time;
  std::vector<float> series, anomaly;  // the values, and the values less their mean
  std::vector<RebuiltSignal> signals;  // in the order of the peaks or frequencies
  std::vector<float> sum;              // the sum of the signals
  std::vector<std::string> notes;      // a signal the envelope solve could not rebuild
};

// Rebuilds the signals `options` chooses from `series` with the tapers and
// resolution of `spectrum`, a result of spectrum(series, ...) on the same
// series. Refused: a spectrum of another series, a frequency above the
// Nyquist frequency, more than 100 signals, a series the reconstruction
// cannot take (too few values or too many tapers for it, more memory than
// the machine has). No signal chosen gives a sum of zeros.
Result<Reconstruction> reconstruct(const Series& series, const Spectrum& spectrum,
                                   const ReconstructOptions& options = {});

}  // namespace quorvane

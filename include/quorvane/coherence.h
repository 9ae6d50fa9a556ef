// The cross-spectrum of two series: multitaper coherence, phase and gain
// with jackknife intervals and the levels of coherence under the null of
// none, as `quorvane coherence` computes them.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "quorvane/series.h"
#include "quorvane/settings.h"
#include "quorvane/status.h"

namespace quorvane {

// The settings of a coherence run, named as the options of `quorvane
// coherence`, with its defaults.
struct CoherenceSettings {
  int resolution = 2;         // P, in multiples of the Rayleigh frequency
  std::optional<int> tapers;  // K, 2..8; default 2P - 1, at most 8
  std::optional<Band> band;   // default 0 to the Nyquist frequency
  int pad = 1;                // transform length factor: 1, 2, 4 or 8
  // hires: the equal-weight average of the K eigen-cross-spectra, with
  // analytic levels unless Monte Carlo ones are asked for; adaptive: each
  // series' adaptive weights, whose levels always come from surrogates.
  Estimate estimate = Estimate::hires;
  Concentrations concentrations = Concentrations::asymptotic;
  Significance significance = Significance::chisquare;
  int surrogates = 1000;   // pairs of independent AR(1) series, Monte Carlo only
  std::uint64_t seed = 1;  // the same seed gives the same levels for any jobs
  int jobs = 1;            // threads sharing the surrogates
  // automatic: on one grid when both series are evenly spaced on it, else
  // each on its own times; interpolate: both linearly to common_step (or
  // the coarser median step), which lowers high-frequency coherence. The
  // other choices are refused.
  Sampling sampling = Sampling::automatic;
  std::optional<double> common_step;
  // As Settings::cancelled: true stops the work, refused as interrupted.
  std::function<bool()> cancelled;
};

// A local maximum of the coherence above its 95 % level.
struct CoherentMaximum {
  float frequency = 0.0f;
  float coherence = 0.0f, coherence_lower = 0.0f, coherence_upper = 0.0f;
  float phase = 0.0f, phase_lower = 0.0f, phase_upper = 0.0f;  // degrees
  int level = 95;  // the highest level reached: 95 or 99
};

// One value per frequency of the band in each array: the columns of the
// coherence CSV of `quorvane coherence`.
struct Coherence {
  std::string name_a, name_b;
  std::vector<float> frequency, period;
  std::vector<float> coherence, coherence_lower, coherence_upper;  // 0..1, 95 % jackknife interval
  // The argument of S_ab in degrees in (-180, 180], positive when B lags
  // A, with its 95 % jackknife interval (phase -+ half-width, not wrapped).
  std::vector<float> phase, phase_lower, phase_upper;
  std::vector<float> gain;  // |S_ab| / S_aa, the transfer amplitude from A to B
  std::vector<float> spectrum_a, spectrum_b;
  // The coherence levels at kLevelPercents (50, 90, 95, 99) by frequency.
  std::array<std::vector<float>, 4> levels;
  bool montecarlo = false;  // levels from surrogates rather than analytic
  std::vector<CoherentMaximum> coherent;  // by frequency
  // The span both series share: its first and last time, values and step.
  double first_time = 0.0, last_time = 0.0;
  std::size_t length = 0;
  double dt = 0.0;
  float bandwidth = 0.0f;            // the full bandwidth 2P/(length dt)
  float rho_a = 0.0f, rho_b = 0.0f;  // lag-one autocorrelations
  // How the pair was analysed: "grid" (one grid), "own_times" (each series
  // on its own times) or "interpolated". Off one grid: each series'
  // sampling class ("even", "gaps", "uneven") and its values in the span
  // (length is then the span over dt, dt the coarser median or common
  // step); on its own times also each one's persistence time, whose
  // coefficient at dt is rho_a or rho_b, and with surrogates the 95 % and
  // 99 % levels of the largest coherence over the band.
  std::string method = "grid";
  std::string sampling_a = "even", sampling_b = "even";
  std::size_t length_a = 0, length_b = 0;
  double persistence_a = 0.0, persistence_b = 0.0;
  std::array<float, 2> band_wide{};
  CoherenceSettings used;            // with the defaults filled in
};

// The coherence of `a` and `b` on the span of times they share: on one grid
// when both are evenly spaced with the same step (within 1e-4 of it) and
// their times on it, else each on its own times (or interpolated, as
// settings.sampling asks). Refused with the reason: no overlap, fewer than
// 2K values in common, and settings `quorvane coherence` refuses. Safe to
// call from several threads at once.
Result<Coherence> coherence(const Series& a, const Series& b,
                            const CoherenceSettings& settings = {});

}  // namespace quorvane

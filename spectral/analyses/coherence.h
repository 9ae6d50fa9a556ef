// The multitaper cross-spectrum of two evenly spaced records of the same
// times: magnitude-squared coherence, phase and gain with jackknife
// intervals over the tapers (Thomson & Chave 1991, in Advances in Spectrum
// Analysis and Array Processing, vol. 1, ch. 2), and the levels of the
// coherence under the null of no coherence.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "common/status.h"

namespace quorvane::spectral {

struct CoherenceSettings {
  int nwin = 3;       // tapers K, 2..8
  int p = 2;          // resolution, multiples of the Rayleigh frequency
  float dt = 1.0f;    // sampling interval of both records
  float fmin = 0.0f;  // band; fmax at most the Nyquist frequency 0.5 / dt
  float fmax = 0.5f;
  int pad = 1;  // transform length factor 1, 2, 4 or 8, as for the spectrum
  // false: the equal-weight average of the K eigen-cross-spectra (hires);
  // true: each record's adaptive weights (as its adaptive spectrum).
  bool adaptive = false;
  bool exact_concentrations = false;
  // Levels from this many pairs of independent AR(1) surrogates (0: the
  // analytic levels, which only the equal-weight estimate has), their seed
  // and the threads that share them.
  int surrogates = 0;
  std::uint64_t seed = 0;
  int jobs = 1;
  // Asked between the stages (tapers, each taper's transform, the
  // cross-spectrum) and before each surrogate pair; when it returns true
  // the call is refused as interrupted. Empty: never.
  std::function<bool()> cancelled;
};

// A local maximum of the coherence above its 95 % level.
struct CoherentMaximum {
  int entry = 0;  // band entry: frequency f0 + entry * df
  float frequency = 0.0f;
  float coherence = 0.0f, coherence_lower = 0.0f, coherence_upper = 0.0f;
  float phase = 0.0f, phase_lower = 0.0f, phase_upper = 0.0f;
  int level = 95;  // the highest level reached: 95 or 99
};

// Every array holds one value per band entry (count of them), entry i at
// frequency f0 + i * df, the grid of the spectrum with the same settings.
struct CoherenceResult {
  int count = 0;
  float f0 = 0.0f, df = 0.0f;
  std::vector<float> frequency;
  // |S_ab|^2 / (S_aa S_bb), 0..1, with its 95 % jackknife interval (of
  // atanh sqrt(coherence), transformed back).
  std::vector<float> coherence, coherence_lower, coherence_upper;
  // The argument of S_ab = sum_k w_a,k w_b,k Y_a,k conj(Y_b,k), in degrees
  // in (-180, 180]: positive when B lags A. The interval is phase -+ its
  // jackknife half-width (at most 180), not wrapped, so lower <= phase <= upper.
  std::vector<float> phase, phase_lower, phase_upper;
  std::vector<float> gain;  // |S_ab| / S_aa, the transfer amplitude from A to B
  std::vector<float> spectrum_a, spectrum_b;
  // The coherence that no coherence exceeds with probability 0.5, 0.9,
  // 0.95 and 0.99, at each entry.
  std::array<std::vector<float>, 4> levels;
  bool montecarlo = false;  // levels from surrogates rather than analytic
  float rho_a = 0.0f, rho_b = 0.0f;  // lag-one autocorrelations of the records
  std::vector<CoherentMaximum> coherent;  // by frequency
  // The 95 % and 99 % levels of the largest coherence over the band, from
  // Monte Carlo surrogates only (0 otherwise).
  std::array<float, 2> band_wide{};
};

// The cross-spectrum of a[0..n-1] and b[0..n-1], sampled at the same times
// dt apart (the caller aligns them). Each record is demeaned and tapered by
// the same K Slepian tapers (computed once), its eigencoefficients Y_k
// formed as the spectrum forms them. Weights w_k are 1 (hires) or each
// record's adaptive weights at its adaptive spectrum; S_aa = sum w_a^2
// |Y_a|^2 / sum w_a^2 (likewise S_bb) and S_ab as above over
// sqrt(sum w_a^2 sum w_b^2).
// Jackknife: the K delete-one-taper estimates with the same weights;
// t_{K-1} times the jackknife deviation of atanh sqrt(C) (lower end at
// least 0) and, for the phase, sqrt(2 (K - 1) (1 - |mean of the unit
// delete-one cross-spectra|)).
// Levels: with equal weights and no surrogates P(C > c) = (1 - c)^(K-1),
// so c = 1 - (1 - p)^(1/(K-1)); otherwise the per-entry quantiles of the
// coherence of `surrogates` pairs of independent AR(1) series, each with
// its record's lag-one coefficient and variance, run through the same
// estimate (empirical_quantile; the same for any number of jobs).
// Refused, out left as it was, with a message that begins with a blank:
// records of different lengths, fewer than 2K values, a value that is not
// finite, fewer than 2 tapers, adaptive weights without surrogates,
// settings the spectrum would refuse (check_spec), memory the machine has
// not got. An entry where either spectrum is 0 gets coherence, phase,
// gain and their intervals 0. Long bands share the work with a second
// thread, as the spectrum's estimators do.
Status coherence(std::span<const float> a, std::span<const float> b,
                 const CoherenceSettings& settings, CoherenceResult& out);

// The span two records on their own times share and what each brings to
// it, as coherence_on_times found them.
struct TimedPair {
  double first = 0.0, last = 0.0;  // the later first time and the earlier last time
  double span = 0.0;               // last - first + dt: the length the tapers cover
  std::size_t first_a = 0, count_a = 0;  // 0-based first value of A in the span, values there
  std::size_t first_b = 0, count_b = 0;
  // Each record's persistence time on its own times, which its surrogates
  // take (0: no persistence); rho_a and rho_b of the result are their
  // coefficients at step dt.
  double tau_a = 0.0, tau_b = 0.0;
};

// The cross-spectrum of a (at increasing times ta) and b (at increasing
// times tb), each on its own times: gaps, uneven steps, different steps and
// densities. The values of each inside the span both cover, [first, last],
// are analysed; settings.dt is the step whose half is the span's margin at
// either end and whose 0.5 / dt bounds the band (the caller passes the
// coarser median step). The K Slepian tapers are those of the span (a grid
// of max(N_a, N_b, 1024) cells), evaluated at each record's times as the
// uneven estimator evaluates them (sampled_tapers, each rescaled to a sum
// of squares of its record's count), and each record's eigencoefficients
// are the non-uniform transforms of its demeaned values from the same
// origin, the span's first time, so that their phases compare. Each
// record's coefficients are scaled by T / (N dt), its mean spacing in steps
// dt, so that both estimate the density of a process on one scale whatever
// their densities and the gain is the transfer amplitude; a record with one
// value a step keeps the scale of the single-record estimate. The grid is
// the uneven estimator's: spacing 1 / (T pad), Rayleigh frequency 1 / T.
// Weights, jackknife intervals, analytic levels and maxima are those of
// coherence(). Monte Carlo levels come from pairs of independent AR(1)
// series on each record's own times, with its own persistence time
// (persistence_time) and variance (ar1_surrogate_on_times), through the
// same estimate; band_wide gets the 95 % and 99 % quantiles of the
// surrogates' largest coherence over the band.
// Refused, out left as it was, with a message that begins with a blank:
// times that are not one per value, not finite or not increasing, values
// that are not finite, records that do not overlap, fewer than 2K values
// of either in the span, fewer than 10 values with surrogates (their
// persistence), what coherence() refuses for its settings.
Status coherence_on_times(std::span<const double> ta, std::span<const float> a,
                          std::span<const double> tb, std::span<const float> b,
                          const CoherenceSettings& settings, CoherenceResult& out,
                          TimedPair& pair);

// The same pair interpolated linearly (interpolate_at) to the times
// first + j settings.dt of the span both cover, then analysed by
// coherence() on that one grid. Interpolation smooths each record, more
// so the further its own steps lie from settings.dt, and lowers the
// coherence at high frequencies. pair gets the span of the grid (its
// first and last time, span = its values times dt) and each record's own
// values inside it; no persistence times (rho_a and rho_b are the lag-one
// autocorrelations on the grid). Refused as coherence_on_times and
// coherence() refuse.
Status coherence_interpolated(std::span<const double> ta, std::span<const float> a,
                              std::span<const double> tb, std::span<const float> b,
                              const CoherenceSettings& settings, CoherenceResult& out,
                              TimedPair& pair);

// The step of a pair that is not on one grid: `common` when positive (the
// step asked for), else the coarser of the two median steps, whose half
// bounds the band both records resolve.
double pair_step(double median_a, double median_b, double common);

// Where two evenly spaced records meet. Steps within 1e-4 of each other
// are one step, and sample times within 1e-3 of a step of each other are
// one time.
struct PairOverlap {
  std::size_t first_a = 0, first_b = 0;  // 0-based first value of each in the shared span
  std::size_t count = 0;                 // values in common
  double dt = 0.0;                       // the step of A
  double offset = 0.0;                   // the start of B after that of A, in steps of A
};
enum class PairAlignment { aligned, steps_differ, off_grid, disjoint };

// Aligns records of increasing times `ta` (step `da`) and `tb` (step
// `db`), neither empty: `overlap` gets the offset and, when aligned, the
// shared span; the other outcomes name what keeps the pair apart.
PairAlignment align_pair(std::span<const double> ta, double da, std::span<const double> tb,
                         double db, PairOverlap& overlap);

}  // namespace quorvane::spectral

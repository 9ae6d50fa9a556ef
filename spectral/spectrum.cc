#include "spectral/spectrum.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory_resource>
#include <string>
#include <thread>
#include <vector>

#include "spectral/chi_square.h"
#include "spectral/concentrations.h"
#include "spectral/estimators.h"
#include "spectral/fft.h"
#include "spectral/jackknife.h"
#include "spectral/montecarlo.h"
#include "spectral/red_noise.h"
#include "spectral/running_median.h"
#include "spectral/tapers.h"
#include "spectral/work_arena.h"

namespace quorvane::spectral {

namespace {

// The largest transform the engine does, and so the longest series.
constexpr int kMaxTransform = 65536;
constexpr int kMaxTapers = 8;

// Short general form of a value for messages.
std::string show(double value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%g", value);
  return buffer;
}

// The frequency grid of a run.
struct Grid {
  int nfft = 0;
  float df = 0.0f;
  int i0 = 0, i1 = 0;
  int nf = 0, nfv = 0;
  float f0 = 0.0f;
  int nray = 0, nbw = 0;
};

Grid frequency_grid(const SpecSettings& s) {
  Grid g;
  // The padded length: 2^b, b the number of halvings that take
  // pad * npts - 1 to zero (the smallest power of two not below pad * npts),
  // but at least 1024.
  int b = 0;
  for (long long rest = static_cast<long long>(s.pad) * s.npts - 1; rest > 0; rest /= 2) ++b;
  g.nfft = std::max(1 << b, 1024);
  g.df = 1.0f / (static_cast<float>(g.nfft) * s.dt);
  g.i0 = static_cast<int>((s.fmin + 0.1f * g.df) / g.df);
  g.i1 = static_cast<int>((s.fmax + 0.1f * g.df) / g.df);
  g.nf = g.i1 - g.i0 + 1;
  g.nfv = g.nf - 1;
  g.f0 = static_cast<float>(g.i0) * g.df;
  const float rayleigh = 1.0f / (static_cast<float>(s.npts) * s.dt);
  g.nray = static_cast<int>(rayleigh / g.df);
  g.nbw = static_cast<int>(2.0f * static_cast<float>(s.p) * rayleigh / g.df);
  return g;
}

bool one_of(int value, int first, int last) { return value >= first && value <= last; }

// Run-owned work areas of one spectrum run; the large ones live in the run's
// memory.
struct Workspace {
  explicit Workspace(std::pmr::memory_resource* memory)
      : xdm(memory), v(memory), coefficients(memory), estimate(memory), back(memory) {}

  std::pmr::vector<float> xdm;  // demeaned series
  std::pmr::vector<float> v;    // tapers, taper k at v[k * npts]
  std::vector<double> el, dlam;
  std::vector<float> tapsum;
  Eigencoefficients coefficients;
  std::pmr::vector<float> estimate;
  std::pmr::vector<float> back;  // background before the harmonic-mode copy
};

// Transform vectors of one thread (nfft values each).
struct TransformBuffers {
  std::pmr::vector<double> xr, xi;
};

// Eigencoefficients of the band for tapers first..last-1: each tapered,
// zero-padded copy of the series through fft2, bins i0.. of the band,
// divided by the normalisation factor in double and kept in single. The
// tapered values are placed straight into bit-reversed order (order, from
// bit_reversal_order), which is what fft2's first step would do.
void eigencoefficients(const std::pmr::vector<float>& xdm, const std::pmr::vector<float>& tapers,
                       const std::pmr::vector<std::uint32_t>& order, const Grid& g, double norm,
                       int first, int last, TransformBuffers& buffers, Eigencoefficients& y) {
  std::pmr::vector<double>& xr = buffers.xr;
  std::pmr::vector<double>& xi = buffers.xi;
  for (int k = first; k < last; ++k) {
    const float* v = tapers.data() + static_cast<std::size_t>(k) * xdm.size();
    std::fill(xi.begin(), xi.end(), 0.0);
    for (std::size_t i = 0; i < xr.size(); ++i) {
      const std::size_t t = order[i];
      xr[i] = t < xdm.size() ? static_cast<double>(v[t] * xdm[t]) : 0.0;
    }
    fft2_bit_reversed(xr, xi);
    for (int i = 0; i < g.nfv; ++i) {
      const std::size_t j = static_cast<std::size_t>(g.i0 + i);
      y.yr[y.at(i, k)] = static_cast<float>(xr[j] / norm);
      y.yi[y.at(i, k)] = static_cast<float>(xi[j] / norm);
    }
  }
}

// The AR(1) spectrum level at cosine cs: s (1 - r^2) / (1 - 2 r cs + r^2).
// A degenerate coefficient (|r| = 1, where numerator and denominator can
// both vanish) gives 0 instead of a NaN or an infinity.
float ar1_level(float s, float r, float cs) {
  const float value = s * (1.0f - r * r) / (1.0f - 2.0f * r * cs + r * r);
  return std::isfinite(value) ? value : 0.0f;
}

// -dt / ln(r) for r in (0, 1); 1e16 when there is no finite decorrelation time.
float decorrelation_time(float dt, float r) {
  if (!(r > 0.0f) || r >= 1.0f) return 1e16f;
  return -dt / std::log(r);
}

// Line reshaping: bridges the continuum across each detected line and
// gathers the line's power into the harmonic spectrum. 1-based entry
// numbers as in the description of the method; entry e lives at index e - 1.
void reshape(const Grid& g, float fsel, float chithr, const std::pmr::vector<float>& back,
             SpecResults& out) {
  const int nfv = g.nfv;
  const int nbw = g.nbw;
  auto raw = [&](int e) { return out.specraw0[static_cast<std::size_t>(e - 1)]; };
  std::vector<char> line(static_cast<std::size_t>(nfv) + 1, 0), done(line.size(), 0);
  for (int e = nbw; e <= nfv; ++e) {
    line[static_cast<std::size_t>(e)] =
        out.ftest[static_cast<std::size_t>(e - 1)] > fsel &&
        raw(e) > back[static_cast<std::size_t>(e - 1)] * chithr;
  }
  for (int e = nbw; e <= nfv; ++e) {
    if (done[static_cast<std::size_t>(e)] || !line[static_cast<std::size_t>(e)]) continue;
    const int lo = std::max(e - nbw / 2, nbw + 1);
    const int hi = std::min(e + nbw / 2, nfv - 1);
    float sum = 0.0f;
    if (lo <= hi) {
      const float avg = (raw(lo - 1) + raw(hi + 1)) / 2.0f;
      for (int j = lo; j <= hi; ++j) {
        out.specresh0[static_cast<std::size_t>(j - 1)] = avg;
        out.harmonic0[static_cast<std::size_t>(j - 1)] = avg;
        done[static_cast<std::size_t>(j)] = 1;
        sum += raw(j);
      }
    }
    const int lo2 = std::max(e - g.nray / 2 - 1, nbw);
    const int hi2 = std::min(e + g.nray / 2 + 1, nfv);
    if (lo2 <= hi2) {
      const float spread = sum / static_cast<float>(hi2 - lo2 + 1);
      for (int j = lo2; j <= hi2; ++j) out.harmonic0[static_cast<std::size_t>(j - 1)] = spread;
    }
  }
}

}  // namespace

Status check_spec(const SpecSettings& s) {
  if (s.npts < 2) {
    return Status::failure(" The series has " + std::to_string(s.npts) +
                           (s.npts == 1 ? " value" : " values") +
                           "; at least 2 are needed for a spectrum.");
  }
  if (s.npts > kMaxTransform) {
    return Status::failure(" The series has " + std::to_string(s.npts) +
                           " values; the spectrum engine takes at most " +
                           std::to_string(kMaxTransform) + ".");
  }
  if (!(s.dt > 0.0f) || !std::isfinite(s.dt)) {
    return Status::failure(" The sampling interval must be positive (it is " + show(s.dt) + ").");
  }
  // The bin spacing of the longest transform and the Rayleigh frequency must
  // be representable.
  const float smallest_df = 1.0f / (static_cast<float>(kMaxTransform) * s.dt);
  const float largest_df = 1.0f / (1024.0f * s.dt);
  if (!(smallest_df > 0.0f) || !std::isfinite(largest_df) ||
      !std::isfinite(1.0f / (static_cast<float>(std::max(s.npts, 1)) * s.dt))) {
    return Status::failure(" The sampling interval " + show(s.dt) +
                           " is too large or too small for a spectrum.");
  }
  if (s.pad != 1 && s.pad != 2 && s.pad != 4 && s.pad != 8) {
    return Status::failure(" The padding factor must be 1, 2, 4 or 8 (it is " +
                           std::to_string(s.pad) + ").");
  }
  if (const int nfft = frequency_grid(s).nfft; nfft > kMaxTransform) {
    return Status::failure(" Padding " + std::to_string(s.npts) + " values by " +
                           std::to_string(s.pad) + " needs a " + std::to_string(nfft) +
                           "-point transform; the spectrum engine does at most " +
                           std::to_string(kMaxTransform) + ".");
  }
  if (!one_of(s.nwin, 1, kMaxTapers)) {
    return Status::failure(" The number of tapers must be between 1 and 8 (it is " +
                           std::to_string(s.nwin) + ").");
  }
  if (s.nwin > s.npts) {
    return Status::failure(" The number of tapers (" + std::to_string(s.nwin) +
                           ") exceeds the number of values (" + std::to_string(s.npts) + ").");
  }
  if (s.p < 1) {
    return Status::failure(" The resolution p must be positive (it is " + std::to_string(s.p) + ").");
  }
  // The half-bandwidth p / npts must stay below half a cycle per sample.
  if (2 * static_cast<long long>(s.p) >= s.npts) {
    return Status::failure(" The resolution p (" + std::to_string(s.p) +
                           ") must be below half the number of values (" + std::to_string(s.npts) +
                           ").");
  }
  if (!one_of(s.inoise, 0, 2) || !one_of(s.irobust, 0, 1) || !one_of(s.ilogfit, 0, 1) ||
      !one_of(s.isignal, 0, 2) || !one_of(s.iadapt, 0, 1) || !one_of(s.isiglev, 1, 6)) {
    return Status::failure(" An analysis option is outside its range (inoise " +
                           std::to_string(s.inoise) + ", irobust " + std::to_string(s.irobust) +
                           ", ilogfit " + std::to_string(s.ilogfit) + ", isignal " +
                           std::to_string(s.isignal) + ", iadapt " + std::to_string(s.iadapt) +
                           ", isiglev " + std::to_string(s.isiglev) + ").");
  }
  if (!(s.fmin >= 0.0f) || !std::isfinite(s.fmin)) {
    return Status::failure(" The lower band limit must not be negative (it is " + show(s.fmin) + ").");
  }
  if (!(s.fmin < s.fmax) || !std::isfinite(s.fmax)) {
    return Status::failure(" The band is empty: fmin (" + show(s.fmin) + ") must lie below fmax (" +
                           show(s.fmax) + ").");
  }
  // The default upper limit is 0.5 / dt computed in single precision; allow
  // a few units of rounding above it.
  const float nyquist = 0.5f / s.dt;
  if (s.fmax > nyquist * (1.0f + 4.0e-7f)) {
    return Status::failure(" The upper band limit " + show(s.fmax) +
                           " lies above the Nyquist frequency " + show(nyquist) + ".");
  }
  if (s.jackknife && s.nwin < 2) {
    return Status::failure(" The jackknife interval needs at least 2 tapers (there is 1).");
  }
  if (s.median_bias_correction && s.irobust == 0 && s.inoise != 2) {
    return Status::failure(" The median bias correction applies to the median-smoothed spectrum,"
                           " which the raw background does not use.");
  }
  if (s.surrogates < 0) {
    return Status::failure(" The number of surrogates must not be negative (it is " +
                           std::to_string(s.surrogates) + ").");
  }
  if (s.jobs < 1) {
    return Status::failure(" The number of jobs must be positive (it is " +
                           std::to_string(s.jobs) + ").");
  }
  if (s.surrogates > 0 && s.isignal == 2) {
    return Status::failure(" Monte Carlo levels judge the spectrum against its background; a"
                           " harmonic-only analysis judges lines by the F-test alone.");
  }
  const Grid g = frequency_grid(s);
  if (g.nfv < 1) {
    return Status::failure(" The band from " + show(s.fmin) + " to " + show(s.fmax) +
                           " holds no frequency of the spectrum (spacing " + show(g.df) +
                           "); widen it.");
  }
  if (s.irobust == 1 || s.inoise == 2) {
    if (!(s.fsmooth >= 0.0f) || !std::isfinite(s.fsmooth)) {
      return Status::failure(" The smoothing width must not be negative (it is " +
                             show(s.fsmooth) + ").");
    }
    const double entries = std::floor(static_cast<double>(s.fsmooth / g.df));
    if (entries > g.nfv) {
      return Status::failure(" The smoothing width " + show(s.fsmooth) + " spans " + show(entries) +
                             " frequencies, more than the " + std::to_string(g.nfv) +
                             " of the band; choose at most " + show(g.nfv * g.df) + ".");
    }
  }
  return Status::success();
}

Status spec(std::span<const float> y, const SpecSettings& s, SpecResults& out,
            const MessageSink& sink) {
  if (Status status = check_spec(s); !status) return status;
  if (y.size() < static_cast<std::size_t>(s.npts)) {
    return Status::failure(" The series holds " + std::to_string(y.size()) + " values, not " +
                           std::to_string(s.npts) + ".");
  }
  const std::size_t npts = static_cast<std::size_t>(s.npts);
  for (std::size_t t = 0; t < npts; ++t) {
    if (!std::isfinite(y[t])) {
      return Status::failure(" Value " + std::to_string(t + 1) +
                             " of the series is not a finite number.");
    }
  }

  const Grid g = frequency_grid(s);
  const std::size_t nfv = static_cast<std::size_t>(g.nfv);
  const int nwin = s.nwin;
  WorkArena memory;
  Workspace w(&memory);

  // Demean (single precision) and, for the red-noise hypothesis, the lag-1
  // autocorrelation of the series.
  float total = 0.0f;
  for (std::size_t t = 0; t < npts; ++t) total += y[t];
  const float mean = total / static_cast<float>(s.npts);
  w.xdm.resize(npts);
  for (std::size_t t = 0; t < npts; ++t) w.xdm[t] = y[t] - mean;
  float rho0 = 0.0f;
  float var = 0.0f;
  if (s.inoise == 0 || s.surrogates > 0) {
    float ssq = 0.0f, lag = 0.0f;
    for (std::size_t t = 0; t < npts; ++t) ssq += w.xdm[t] * w.xdm[t];
    for (std::size_t t = 1; t < npts; ++t) lag += w.xdm[t - 1] * w.xdm[t];
    var = ssq / static_cast<float>(s.npts);
    const float c1 = lag / static_cast<float>(s.npts - 1);
    // A constant series has no autocorrelation to speak of: 0, not 0/0.
    if (s.inoise == 0) rho0 = var > 0.0f ? c1 / var : 0.0f;
  }

  SpecResults r;
  r.nf = g.nf;
  r.df = g.df;
  r.f0 = g.f0;
  r.nbw = g.nbw;

  // Confidence ratios of chi-square with 2K degrees of freedom, F levels,
  // and the thresholds of the reshaping.
  const int nu = 2 * nwin;
  const float levels[4] = {0.5f, 0.9f, 0.95f, 0.99f};
  for (std::size_t j = 0; j < 4; ++j) r.conf[j] = chsppf(levels[j], nu, sink) / static_cast<float>(nu);
  float fsel = 0.0f;
  if (nwin > 1) {
    r.fconf = f_levels(nwin);
    fsel = r.fconf[static_cast<std::size_t>(s.isiglev - 1)];
  }
  float chithr = 0.0f;
  if (s.ireshape == 1 && s.isignal != 2) {
    chithr = r.conf[static_cast<std::size_t>(std::clamp(s.isiglev, 1, 4) - 1)];
  }

  // Tapers and eigencoefficients; the transforms of large series are shared
  // between two threads (each taper's transform is independent).
  w.v.resize(npts * static_cast<std::size_t>(nwin));
  w.el.resize(static_cast<std::size_t>(nwin));
  w.dlam.resize(w.el.size());
  w.tapsum.resize(w.el.size());
  compute_tapers(s.npts, nwin, static_cast<float>(s.p), w.v, w.el, w.tapsum, w.dlam,
                 EigenPath::Fast, &memory);
  if (s.exact_concentrations) {
    taper_concentrations(s.npts, nwin, static_cast<float>(s.p), w.v, w.el);
  }
  const double norm = s.inorm == 2   ? static_cast<double>(1.0f / s.dt)
                      : s.inorm == 1 ? static_cast<double>(static_cast<float>(s.npts))
                                     : 1.0;
  w.coefficients.resize(g.nfv, nwin);
  // Both threads' buffers are taken before the threads start.
  const std::size_t nfft = static_cast<std::size_t>(g.nfft);
  const bool split_work = g.nfft >= 8192 && nwin >= 2;
  TransformBuffers buffers[2] = {
      {std::pmr::vector<double>(nfft, &memory), std::pmr::vector<double>(nfft, &memory)},
      {std::pmr::vector<double>(split_work ? nfft : 0, &memory),
       std::pmr::vector<double>(split_work ? nfft : 0, &memory)}};
  std::pmr::vector<std::uint32_t> order(nfft, &memory);
  bit_reversal_order(order);
  if (split_work) {
    const int split = nwin / 2;
    std::thread helper([&] {
      eigencoefficients(w.xdm, w.v, order, g, norm, split, nwin, buffers[1], w.coefficients);
    });
    eigencoefficients(w.xdm, w.v, order, g, norm, 0, split, buffers[0], w.coefficients);
    helper.join();
  } else {
    eigencoefficients(w.xdm, w.v, order, g, norm, 0, nwin, buffers[0], w.coefficients);
  }

  // The spectrum estimate.
  w.estimate.assign(nfv, 0.0f);
  // The series' sum of squares (squares in single, sum in double), on the
  // scale of the eigenspectra: the variance scale of the adaptive estimate.
  double sig2 = 0.0;
  if (s.iadapt != 0) {
    for (std::size_t t = 0; t < npts; ++t) sig2 += static_cast<double>(w.xdm[t] * w.xdm[t]);
    if (s.inorm == 1) {
      sig2 = sig2 / (static_cast<double>(s.npts) * static_cast<double>(s.npts));
    } else if (s.inorm == 2) {
      sig2 = sig2 * static_cast<double>(s.dt) * static_cast<double>(s.dt);
    }
  }
  if (s.iadapt == 0) {
    hires(w.coefficients, w.el, w.estimate);
  } else {
    adwait(w.coefficients, w.el, sig2, w.estimate);
  }
  for (std::size_t i = 0; i < nfv; ++i) {
    if (!std::isfinite(w.estimate[i])) {
      return Status::failure(" The spectrum of this series exceeds the single-precision range;"
                             " rescale the values.");
    }
  }
  std::array<std::vector<float>, 4> montecarlo_conf;
  if (s.surrogates > 0) {
    Status status = montecarlo_levels(s, rho0, var, s.surrogates, s.seed, s.jobs, montecarlo_conf);
    if (!status) return status;
  }
  // From here on nothing can fail: the arrays of the caller's results are
  // reused (their storage outlives the run), each filled entry overwritten
  // and the rest of the band length cleared.
  const std::size_t length = static_cast<std::size_t>(g.nf);
  for (std::vector<float>* v : {&out.specraw0, &out.specmed0, &out.specresh0, &out.harmonic0,
                                &out.specback0, &out.ftest}) {
    v->assign(length, 0.0f);
  }
  r.specraw0 = std::move(out.specraw0);
  r.specmed0 = std::move(out.specmed0);
  r.specresh0 = std::move(out.specresh0);
  r.harmonic0 = std::move(out.harmonic0);
  r.specback0 = std::move(out.specback0);
  r.ftest = std::move(out.ftest);
  r.montecarlo_conf = std::move(montecarlo_conf);
  if (s.jackknife) {
    r.jackknife_lower.assign(length, 0.0f);
    r.jackknife_upper.assign(length, 0.0f);
    jackknife_interval(w.coefficients, w.el, s.iadapt != 0, sig2,
                       std::span<const float>(w.estimate.data(), nfv),
                       std::span<float>(r.jackknife_lower.data(), nfv),
                       std::span<float>(r.jackknife_upper.data(), nfv));
  }
  std::copy(w.estimate.begin(), w.estimate.end(), r.specraw0.begin());
  std::copy(w.estimate.begin(), w.estimate.end(), r.specresh0.begin());
  std::copy(w.estimate.begin(), w.estimate.end(), r.harmonic0.begin());

  if (nwin > 1) regre(w.coefficients, w.tapsum, r.ftest);

  float raw_total = 0.0f;
  for (std::size_t i = 0; i < nfv; ++i) raw_total += r.specraw0[i];
  r.s0raw = raw_total / static_cast<float>(g.nfv);
  r.s0 = r.s0raw;
  r.rho0 = rho0;
  r.rho = rho0;

  // Running median: for the robust background, and for the locally-white
  // hypothesis, whose background is the median itself.
  if (s.irobust == 1 || s.inoise == 2) {
    const int nsm = static_cast<int>(s.fsmooth / g.df);
    running_median(std::span<const float>(r.specraw0.data(), nfv), nsm / 2,
                   std::span<float>(r.specmed0.data(), nfv), &memory);
    if (s.median_bias_correction) {
      // The median of an estimate distributed as (mean / nu) chi-square(nu),
      // nu = 2K, lies at conf[0] = chsppf(0.5, nu) / nu of its mean (0.891
      // for K = 3), so median / conf[0] estimates the mean level that the
      // background and its chi-square levels stand for.
      for (std::size_t i = 0; i < nfv; ++i) r.specmed0[i] /= r.conf[0];
    }
    if (s.irobust == 1) {
      float med_total = 0.0f;
      for (std::size_t i = 0; i < nfv; ++i) med_total += r.specmed0[i];
      r.s0 = med_total / static_cast<float>(g.nfv);
    }
  }
  if (s.irobust == 1 && s.inoise != 2) {
    MisfitBand band;
    band.s0 = r.s0;
    band.smed = std::span<const float>(r.specmed0.data(), nfv);
    band.fmax = s.fmax;
    band.df = g.df;
    band.f0 = g.f0;
    band.ilogfit = s.ilogfit;
    r.rho = red_noise_grid_fit(band, rho0, &memory);
  }
  r.tau = decorrelation_time(s.dt, r.rho);
  r.tau0 = decorrelation_time(s.dt, r.rho0);

  // Background; the constant is single-precision pi as the background has
  // always used it (the misfit uses 3.1415925).
  w.back.assign(nfv, 0.0f);
  for (std::size_t i = 0; i < nfv; ++i) {
    if (s.isignal == 2) continue;
    const float f = static_cast<float>(i) * g.df + g.f0;
    const float cs = std::cos(3.1415927f * f / s.fmax);
    float back = 0.0f;
    if (s.inoise == 2) {
      back = s.median_bias_correction ? r.specmed0[i] : r.conf[0] * r.specmed0[i];
    } else if (s.irobust == 1) {
      back = ar1_level(r.s0, r.rho, cs);
    } else {
      back = ar1_level(r.s0raw, r.rho0, cs);
    }
    w.back[i] = back;
    r.specback0[i] = back;
  }

  // Reshaping needs an F statistic, so one taper leaves the spectra as they are.
  if (s.ireshape == 1 && nwin > 1 && g.nbw <= g.nfv) reshape(g, fsel, chithr, w.back, r);
  if (s.isignal == 2) std::copy(r.specresh0.begin(), r.specresh0.begin() + g.nfv, r.specback0.begin());

  out = std::move(r);
  return Status::success();
}

}  // namespace quorvane::spectral

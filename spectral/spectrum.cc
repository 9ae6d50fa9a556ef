#include "spectral/spectrum.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory_resource>
#include <span>
#include <string>
#include <vector>

#include "common/memory.h"
#include "spectral/chi_square.h"
#include "spectral/concentrations.h"
#include "spectral/estimators.h"
#include "spectral/fft.h"
#include "spectral/jackknife.h"
#include "spectral/montecarlo.h"
#include "spectral/red_noise.h"
#include "spectral/running_median.h"
#include "spectral/spectrum_stages.h"
#include "spectral/tapers.h"
#include "spectral/two_halves.h"
#include "spectral/work_arena.h"

namespace quorvane::spectral {

namespace {

// The largest transform the engine's indexing holds, and so the longest
// series (each transform vector then takes 8 GiB; the memory check refuses
// far shorter series on most machines).
constexpr int kMaxTransform = 1 << 30;
constexpr int kMaxTapers = 8;

// The pi of the AR(1) background curve: the float nearest pi, as the curve is
// evaluated in single precision. (The red-noise misfit uses one float step
// less, see red_noise.cc; the curves agree to that step.)
constexpr float kBackgroundPi = 3.1415927f;

// Short general form of a value for messages.
std::string show(double value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%g", value);
  return buffer;
}

bool one_of(int value, int first, int last) { return value >= first && value <= last; }

// Run-owned work areas of one spectrum run; the large ones live in the run's
// memory.
struct Workspace {
  explicit Workspace(std::pmr::memory_resource* memory)
      : xdm(memory), own_v(memory), coefficients(memory) {}

  std::pmr::vector<float> xdm;    // demeaned series
  std::span<const float> v;       // tapers, taper k at v[k * npts]
  std::pmr::vector<float> own_v;  // the tapers when computed for this run only
  std::vector<double> el;
  std::vector<float> tapsum;
  Eigencoefficients coefficients;
};

// The work arrays of the shared stages, in the run's memory.
struct StageWork {
  explicit StageWork(std::pmr::memory_resource* memory) : estimate(memory), back(memory) {}

  std::pmr::vector<float> estimate;
  std::pmr::vector<float> back;  // background before the harmonic-mode copy
};

// The two transform vectors of one thread: nfft doubles each from the run's
// memory, not cleared, as every transform writes all of them before reading.
class TransformBuffers {
 public:
  TransformBuffers(std::size_t nfft, std::pmr::memory_resource* memory)
      : memory_(memory), size_(nfft), data_(allocate(memory, nfft)) {}
  TransformBuffers(const TransformBuffers&) = delete;
  TransformBuffers& operator=(const TransformBuffers&) = delete;
  ~TransformBuffers() {
    if (data_ != nullptr) memory_->deallocate(data_, bytes(size_), kAlignment);
  }
  std::span<double> xr() { return {data_, size_}; }
  std::span<double> xi() { return {data_ + size_, size_}; }

 private:
  static constexpr std::size_t kAlignment = 64;  // a cache line
  static std::size_t bytes(std::size_t nfft) { return 2 * nfft * sizeof(double); }
  static double* allocate(std::pmr::memory_resource* memory, std::size_t nfft) {
    return nfft == 0 ? nullptr : static_cast<double*>(memory->allocate(bytes(nfft), kAlignment));
  }
  std::pmr::memory_resource* memory_;
  std::size_t size_;
  double* data_;
};

// Band entries [begin, end) of taper k from its transform: bins i0 + i,
// divided by the normalisation factor in double and kept in single.
void keep_band(TransformBuffers& buffers, const Grid& g, double norm, int k, int begin, int end,
               Eigencoefficients& y) {
  const std::span<const double> xr = buffers.xr(), xi = buffers.xi();
  for (int i = begin; i < end; ++i) {
    const std::size_t j = static_cast<std::size_t>(g.i0 + i);
    y.yr[y.at(i, k)] = static_cast<float>(xr[j] / norm);
    y.yi[y.at(i, k)] = static_cast<float>(xi[j] / norm);
  }
}

// Eigencoefficients of the band for tapers first..last-1: each tapered,
// zero-padded copy of the series through the transform. With two_threads
// (a long transform), each transform and each band copy is shared between
// this thread and a second one.
void eigencoefficients(std::span<const float> xdm, std::span<const float> tapers,
                       const FftPlan& plan, const Grid& g, double norm, int first, int last,
                       TransformBuffers& buffers, Eigencoefficients& y, bool two_threads,
                       const std::function<bool()>& cancelled) {
  for (int k = first; k < last; ++k) {
    if (cancelled && cancelled()) return;
    const float* v = tapers.data() + static_cast<std::size_t>(k) * xdm.size();
    plan.transform_real(
        xdm.size(), [&](std::size_t t) { return static_cast<double>(v[t] * xdm[t]); },
        buffers.xr(), buffers.xi(), two_threads);
    if (two_threads) {
      const int half = g.nfv / 2;
      run_two_halves([&] { keep_band(buffers, g, norm, k, 0, half, y); },
                     [&] { keep_band(buffers, g, norm, k, half, g.nfv, y); });
    } else {
      keep_band(buffers, g, norm, k, 0, g.nfv, y);
    }
  }
}

// The AR(1) spectrum level at cosine cs: s (1 - r^2) / (1 - 2 r cs + r^2).
// Where the product s (1 - r^2) overflows (a level near the float range) the
// shape is formed first; a degenerate coefficient (|r| = 1, where numerator
// and denominator can both vanish) gives 0 instead of a NaN or an infinity.
float ar1_level(float s, float r, float cs) {
  float value = s * (1.0f - r * r) / (1.0f - 2.0f * r * cs + r * r);
  if (!std::isfinite(value)) value = s * ((1.0f - r * r) / (1.0f - 2.0f * r * cs + r * r));
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

// The stages of one spectrum run, in the order spec() calls them. Each reads
// what the earlier ones left in the workspace or the results; none can fail
// after the estimate has been checked for overflow.

// Refuses a series shorter than npts or holding a value that is not finite.
Status check_series(std::span<const float> y, const SpecSettings& s) {
  if (y.size() < static_cast<std::size_t>(s.npts)) {
    return Status::failure(" The series holds " + std::to_string(y.size()) + " values, not " +
                           std::to_string(s.npts) + ".");
  }
  for (std::size_t t = 0; t < static_cast<std::size_t>(s.npts); ++t) {
    if (!std::isfinite(y[t])) {
      return Status::failure(" Value " + std::to_string(t + 1) +
                             " of the series is not a finite number.");
    }
  }
  return Status::success();
}

// The series less its mean, all in single precision.
void demean(std::span<const float> y, const SpecSettings& s, std::pmr::vector<float>& xdm) {
  const std::size_t npts = static_cast<std::size_t>(s.npts);
  float total = 0.0f;
  for (std::size_t t = 0; t < npts; ++t) total += y[t];
  const float mean = total / static_cast<float>(s.npts);
  xdm.resize(npts);
  for (std::size_t t = 0; t < npts; ++t) xdm[t] = y[t] - mean;
}

// The lag-1 autocorrelation of the demeaned series, the starting point of
// the red-noise hypothesis; 0 for the other hypotheses.
float lag1_autocorrelation(const std::pmr::vector<float>& xdm, const SpecSettings& s) {
  if (s.noise != Noise::red) return 0.0f;
  const std::size_t npts = xdm.size();
  float ssq = 0.0f, lag = 0.0f;
  for (std::size_t t = 0; t < npts; ++t) ssq += xdm[t] * xdm[t];
  for (std::size_t t = 1; t < npts; ++t) lag += xdm[t - 1] * xdm[t];
  const float var = ssq / static_cast<float>(s.npts);
  const float c1 = lag / static_cast<float>(s.npts - 1);
  // A constant series has no autocorrelation to speak of: 0, not 0/0.
  return var > 0.0f ? c1 / var : 0.0f;
}

// The variance of the demeaned series, summed as for the autocorrelation.
float series_variance(const std::pmr::vector<float>& xdm) {
  float ssq = 0.0f;
  for (float x : xdm) ssq += x * x;
  return ssq / static_cast<float>(xdm.size());
}

// The thresholds the line reshaping applies to the F statistic and to the
// ratio of the raw spectrum over its background.
struct ReshapeThresholds {
  float fsel = 0.0f;
  float chithr = 0.0f;
};

// Confidence ratios of chi-square with 2K degrees of freedom and the F
// levels into r; returns the reshaping thresholds at the chosen level.
ReshapeThresholds confidence_levels(const SpecSettings& s, const MessageSink& sink,
                                    SpecResults& r) {
  const int nu = 2 * s.nwin;
  const float levels[4] = {0.5f, 0.9f, 0.95f, 0.99f};
  for (std::size_t j = 0; j < 4; ++j) r.conf[j] = chsppf(levels[j], nu, sink) / static_cast<float>(nu);
  ReshapeThresholds t;
  if (s.nwin > 1) {
    r.fconf = f_levels(s.nwin);
    t.fsel = r.fconf[static_cast<std::size_t>(s.isiglev - 1)];
  }
  if (s.reshape && s.signal != Signal::harmonic) {
    t.chithr = r.conf[static_cast<std::size_t>(std::clamp(s.isiglev, 1, 4) - 1)];
  }
  return t;
}

// Computes the tapers of the settings into v (npts * nwin values), with
// their concentrations (exact ones when the settings ask for them) and sums.
void make_tapers(const SpecSettings& s, std::span<float> v, std::vector<double>& el,
                 std::vector<float>& tapsum, std::pmr::memory_resource* memory) {
  const std::size_t nwin = static_cast<std::size_t>(s.nwin);
  std::vector<double> dlam(nwin);
  el.resize(nwin);
  tapsum.resize(nwin);
  compute_tapers(s.npts, s.nwin, static_cast<float>(s.p), v, el, tapsum, dlam, EigenPath::Fast,
                 memory);
  if (s.exact_concentrations) taper_concentrations(s.npts, s.nwin, static_cast<float>(s.p), v, el);
}

// The run's tapers: computed into the run memory, or used where they lie
// when computed once for many runs.
void run_tapers(const SpecSettings& s, const RunTapers* given, Workspace& w,
                std::pmr::memory_resource* memory) {
  if (given != nullptr) {
    w.v = given->v;
    w.el = given->el;
    w.tapsum = given->tapsum;
    return;
  }
  w.own_v.resize(static_cast<std::size_t>(s.npts) * static_cast<std::size_t>(s.nwin));
  make_tapers(s, w.own_v, w.el, w.tapsum, memory);
  w.v = w.own_v;
}

// The high-resolution or adaptive estimate of the coefficients into s.
void estimate_of(const SpecSettings& settings, const TaperedBand& band,
                 const Eigencoefficients& coefficients, std::span<float> s) {
  if (settings.estimate == Estimate::hires) {
    hires(coefficients, band.el, s, band.hires_weights);
  } else {
    adwait(coefficients, band.el, band.sig2, s, settings.cancelled);
  }
}

// The high-resolution or adaptive spectrum estimate into w.estimate; refuses
// an estimate that overflows single precision.
Status spectrum_estimate(const SpecSettings& s, const Grid& g, const TaperedBand& band,
                         StageWork& w) {
  const std::size_t nfv = static_cast<std::size_t>(g.nfv);
  w.estimate.assign(nfv, 0.0f);
  estimate_of(s, band, *band.coefficients, w.estimate);
  if (run_cancelled(s)) return interrupted_run();
  for (float value : w.estimate) {
    if (!std::isfinite(value)) {
      return Status::failure(" The spectrum of this series exceeds the single-precision range;"
                             " rescale the values.");
    }
  }
  return Status::success();
}

// Moves the frequency-indexed result arrays of `from` into `to`.
void move_result_arrays(SpecResults& from, SpecResults& to) {
  to.specraw0 = std::move(from.specraw0);
  to.specmed0 = std::move(from.specmed0);
  to.specresh0 = std::move(from.specresh0);
  to.harmonic0 = std::move(from.harmonic0);
  to.specback0 = std::move(from.specback0);
  to.ftest = std::move(from.ftest);
}

// Moves the caller's result arrays into r, each cleared to the band length
// (their storage outlives the run), and starts the raw, reshaped and
// harmonic spectra from the estimate.
void take_result_arrays(const Grid& g, const StageWork& w, SpecResults& out, SpecResults& r) {
  const std::size_t length = static_cast<std::size_t>(g.nf);
  for (std::vector<float>* v : {&out.specraw0, &out.specmed0, &out.specresh0, &out.harmonic0,
                                &out.specback0, &out.ftest}) {
    v->assign(length, 0.0f);
  }
  move_result_arrays(out, r);
  std::copy(w.estimate.begin(), w.estimate.end(), r.specraw0.begin());
  std::copy(w.estimate.begin(), w.estimate.end(), r.specresh0.begin());
  std::copy(w.estimate.begin(), w.estimate.end(), r.harmonic0.begin());
}

// The 95 % jackknife interval of the estimate, over the band length.
void jackknife_stage(const SpecSettings& s, const Grid& g, const TaperedBand& band,
                     const StageWork& w, SpecResults& r) {
  const std::size_t nfv = static_cast<std::size_t>(g.nfv);
  r.jackknife_lower.assign(static_cast<std::size_t>(g.nf), 0.0f);
  r.jackknife_upper.assign(static_cast<std::size_t>(g.nf), 0.0f);
  jackknife_interval(*band.coefficients, band.el, s.estimate == Estimate::adaptive, s.estimate == Estimate::adaptive ? band.sig2 : 0.0,
                     std::span<const float>(w.estimate.data(), nfv),
                     std::span<float>(r.jackknife_lower.data(), nfv),
                     std::span<float>(r.jackknife_upper.data(), nfv), band.hires_weights);
}

// The mean of the first count values of an estimate, summed in order.
float mean_level(std::span<const float> estimate, int count) {
  float total = 0.0f;
  for (std::size_t i = 0; i < static_cast<std::size_t>(count); ++i) total += estimate[i];
  return total / static_cast<float>(count);
}

// Mean level s0raw of the raw spectrum over the band.
void raw_level(const Grid& g, SpecResults& r) {
  r.s0raw = mean_level(r.specraw0, g.nfv);
  r.s0 = r.s0raw;
}

// The running median of the raw spectrum (grid.nfv entries) into out, with
// the median-bias correction when the settings ask for it; conf0 is the
// chi-square ratio conf[0].
void band_median(const SpecSettings& s, const Grid& g, std::span<const float> raw, float conf0,
                 std::span<float> out, std::pmr::memory_resource* memory) {
  const std::size_t nfv = static_cast<std::size_t>(g.nfv);
  const int nsm = static_cast<int>(s.fsmooth / g.df);
  running_median(raw.first(nfv), nsm / 2, out.first(nfv), memory);
  if (s.median_bias_correction) {
    // The median of an estimate distributed as (mean / nu) chi-square(nu),
    // nu = 2K, lies at conf[0] = chsppf(0.5, nu) / nu of its mean (0.891
    // for K = 3), so median / conf[0] estimates the mean level that the
    // background and its chi-square levels stand for.
    for (std::size_t i = 0; i < nfv; ++i) out[i] /= conf0;
  }
}

// The mean of the median over the band, summed in single precision.
float median_mean(const Grid& g, std::span<const float> median) {
  float med_total = 0.0f;
  for (std::size_t i = 0; i < static_cast<std::size_t>(g.nfv); ++i) med_total += median[i];
  return med_total / static_cast<float>(g.nfv);
}

// Running median of the raw spectrum: for the robust background, and for
// the locally-white hypothesis, whose background is the median itself. The
// robust background takes its level s0 from the median.
void median_level(const SpecSettings& s, const Grid& g, SpecResults& r,
                  std::pmr::memory_resource* memory) {
  if (!uses_median(s)) return;
  band_median(s, g, r.specraw0, r.conf[0], r.specmed0, memory);
  if (s.background == Background::robust) r.s0 = median_mean(g, r.specmed0);
}

// Whether the band runs from 0 to the Nyquist frequency.
bool whole_band(const SpecSettings& s, const Grid& g) {
  return g.i0 == 0 && s.fmax >= nyquist_frequency(s.dt);
}

// The AR(1) model fitted to `median` (the band's values, of mean s0): its
// shape in f dt (the frequency over the Nyquist frequency, whatever the
// band), its level kept at the band's mean when the band stops short of 0
// or of the Nyquist frequency.
MisfitBand ar1_band(const SpecSettings& s, const Grid& g, float s0, std::span<const float> median) {
  MisfitBand band;
  band.s0 = s0;
  band.smed = median.first(static_cast<std::size_t>(g.nfv));
  band.nyquist = nyquist_frequency(s.dt);
  band.df = g.df;
  band.f0 = g.f0;
  band.fit = s.fit;
  band.full_band = whole_band(s, g);
  return band;
}

// The AR(1) coefficient rho (the robust fit to the median, or rho0) and
// both decorrelation times.
void red_noise_fit(const SpecSettings& s, const Grid& g, const TaperedBand& band, SpecResults& r,
                   std::pmr::memory_resource* memory) {
  const float rho0 = band.rho0;
  r.rho0 = rho0;
  r.rho = rho0;
  if (band.fixed_rho) {
    r.rho = *band.fixed_rho;
  } else if (s.background == Background::robust && s.noise != Noise::local) {
    r.rho = red_noise_grid_fit(ar1_band(s, g, r.s0, r.specmed0), rho0, memory);
  }
  r.tau = decorrelation_time(s.dt, r.rho);
  r.tau0 = decorrelation_time(s.dt, r.rho0);
}

// The noise background into back and r.specback0 (zero for harmonic
// signals, whose background is the reshaped spectrum, set after reshaping).
void noise_background(const SpecSettings& s, const Grid& g, const TaperedBand& band,
                      std::pmr::vector<float>& back, SpecResults& r) {
  const std::size_t nfv = static_cast<std::size_t>(g.nfv);
  back.assign(nfv, 0.0f);
  if (s.signal == Signal::harmonic) return;
  const MisfitBand model = ar1_band(s, g, r.s0, r.specmed0);
  const float fitted_level = ar1_band_level(r.s0, r.rho, model);
  const float unfitted_level =
      band.whole_raw_level ? *band.whole_raw_level : ar1_band_level(r.s0raw, r.rho0, model);
  for (std::size_t i = 0; i < nfv; ++i) {
    const float f = static_cast<float>(i) * g.df + g.f0;
    const float cs = std::cos(kBackgroundPi * f / model.nyquist);
    float level = 0.0f;
    if (s.noise == Noise::local) {
      // The corrected median is itself the mean level.
      level = s.median_bias_correction ? r.specmed0[i] : r.conf[0] * r.specmed0[i];
    } else if (!band.red_shape.empty() && s.noise == Noise::red) {
      level = (s.background == Background::robust ? r.s0 : r.s0raw) * band.red_shape[i];
    } else if (s.background == Background::robust) {
      level = ar1_level(fitted_level, r.rho, cs);
    } else {
      level = ar1_level(unfitted_level, r.rho0, cs);
    }
    back[i] = level;
    r.specback0[i] = level;
  }
}

}  // namespace

double band_normalisation(const SpecSettings& s) {
  return s.normalize == Normalize::dt   ? static_cast<double>(1.0f / s.dt)
         : s.normalize == Normalize::n ? static_cast<double>(static_cast<float>(s.npts))
                        : 1.0;
}

// The work of large series is shared between two threads: a long transform
// is split between them, which needs one pair of transform vectors instead
// of two; shorter ones go to the two threads taper by taper.
bool band_eigencoefficients(std::span<const float> x, std::span<const float> tapers, int nwin,
                            const Grid& g, double norm, Eigencoefficients& out,
                            std::pmr::memory_resource* memory,
                            const std::function<bool()>& cancelled) {
  const std::size_t nfft = static_cast<std::size_t>(g.nfft);
  const FftPlan plan(nfft, memory);
  if (plan.splits_work()) {
    TransformBuffers buffers(nfft, memory);
    eigencoefficients(x, tapers, plan, g, norm, 0, nwin, buffers, out, true, cancelled);
  } else if (g.nfft >= 8192 && nwin >= 2) {
    // Both threads' buffers are taken before the threads start.
    TransformBuffers here(nfft, memory), there(nfft, memory);
    const int split = nwin / 2;
    run_two_halves(
        [&] { eigencoefficients(x, tapers, plan, g, norm, 0, split, here, out, false, cancelled); },
        [&] {
          eigencoefficients(x, tapers, plan, g, norm, split, nwin, there, out, false, cancelled);
        });
  } else {
    TransformBuffers buffers(nfft, memory);
    eigencoefficients(x, tapers, plan, g, norm, 0, nwin, buffers, out, false, cancelled);
  }
  return !(cancelled && cancelled());
}

bool tapered_band(std::span<const float> x, std::span<const float> tapers, const SpecSettings& s,
                  const Grid& g, TaperedBand& band, Eigencoefficients& out,
                  std::pmr::memory_resource* memory) {
  band.coefficients = &out;
  const double norm = band_normalisation(s);
  const bool raw_red = s.noise == Noise::red && s.background == Background::raw && s.signal != Signal::harmonic;
  if (!raw_red || whole_band(s, g)) {
    out.resize(g.nfv, s.nwin);
    return band_eigencoefficients(x, tapers, s.nwin, g, norm, out, memory, s.cancelled);
  }
  // The grid of the run over 0 .. Nyquist, whose entries the mean takes;
  // the transform reaches the band's last entry too should rounding put it
  // beyond that grid's.
  SpecSettings whole_settings = s;
  whole_settings.fmin = 0.0f;
  whole_settings.fmax = nyquist_frequency(s.dt);
  const Grid whole = frequency_grid(whole_settings);
  Grid reach = whole;
  reach.nfv = std::max(whole.nfv, g.i0 + g.nfv);
  out.resize(reach.nfv, s.nwin);
  if (!band_eigencoefficients(x, tapers, s.nwin, reach, norm, out, memory, s.cancelled)) return false;
  {
    std::pmr::vector<float> estimate(static_cast<std::size_t>(reach.nfv), 0.0f, memory);
    estimate_of(s, band, out, estimate);
    const float level = mean_level(estimate, whole.nfv);
    if (std::isfinite(level)) band.whole_raw_level = level;
  }
  // The band's entries to the front, in the storage they were computed in.
  const std::size_t first = out.at(g.i0, 0), count = out.at(g.nfv, 0);
  std::copy(out.yr.begin() + static_cast<std::ptrdiff_t>(first),
            out.yr.begin() + static_cast<std::ptrdiff_t>(first + count), out.yr.begin());
  std::copy(out.yi.begin() + static_cast<std::ptrdiff_t>(first),
            out.yi.begin() + static_cast<std::ptrdiff_t>(first + count), out.yi.begin());
  out.yr.resize(count);
  out.yi.resize(count);
  out.count = g.nfv;
  return true;
}

double variance_scale(const SpecSettings& s, double sum_of_squares) {
  if (s.normalize == Normalize::n) {
    return sum_of_squares / (static_cast<double>(s.npts) * static_cast<double>(s.npts));
  }
  if (s.normalize == Normalize::dt) return sum_of_squares * static_cast<double>(s.dt) * static_cast<double>(s.dt);
  return sum_of_squares;
}

Status check_series_shape(const SpecSettings& s) {
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
  if (s.pad != 1 && s.pad != 2 && s.pad != 4 && s.pad != 8) {
    return Status::failure(" The padding factor must be 1, 2, 4 or 8 (it is " +
                           std::to_string(s.pad) + ").");
  }
  const long long padded = transform_length(s.npts, s.pad);
  if (padded > kMaxTransform) {
    return Status::failure(" Padding " + std::to_string(s.npts) + " values by " +
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
    return Status::failure(" The sampling interval " + show(s.dt) +
                           " is too large or too small for a spectrum.");
  }
  return check_taper_arguments(s.npts, s.nwin, s.p, kMaxTapers);
}

Status check_spec_settings(const SpecSettings& s) {
  if (Status status = check_series_shape(s); !status) return status;
  if (!one_of(s.isiglev, 1, 6)) {
    return Status::failure(" The significance level index must be from 1 to 6 (it is " +
                           std::to_string(s.isiglev) + ").");
  }
  if (!(s.fmin >= 0.0f) || !std::isfinite(s.fmin)) {
    return Status::failure(" The lower band limit must not be negative (it is " + show(s.fmin) + ").");
  }
  if (!(s.fmin < s.fmax) || !std::isfinite(s.fmax)) {
    return Status::failure(" The band is empty: fmin (" + show(s.fmin) + ") must lie below fmax (" +
                           show(s.fmax) + ").");
  }
  // The default upper limit is the Nyquist frequency; allow a few units of
  // rounding above it.
  const float nyquist = nyquist_frequency(s.dt);
  if (s.fmax > nyquist * (1.0f + 4.0e-7f)) {
    return Status::failure(" The upper band limit " + show(s.fmax) +
                           " lies above the Nyquist frequency " + show(nyquist) + ".");
  }
  if (s.jackknife && s.nwin < 2) {
    return Status::failure(" The jackknife interval needs at least 2 tapers (there is 1).");
  }
  if (s.median_bias_correction && !uses_median(s)) {
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
  if (s.surrogates > 0 && s.signal == Signal::harmonic) {
    return Status::failure(" Monte Carlo levels judge the spectrum against its background; a"
                           " harmonic-only analysis judges lines by the F-test alone.");
  }
  return Status::success();
}

Status check_band(const SpecSettings& s, const Grid& g) {
  if (g.nfv < 1) {
    return Status::failure(" The band from " + show(s.fmin) + " to " + show(s.fmax) +
                           " holds no frequency of the spectrum (spacing " + show(g.df) +
                           "); widen it.");
  }
  if (uses_median(s)) {
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

Grid frequency_grid(const SpecSettings& s) {
  Grid g;
  g.nfft = static_cast<int>(transform_length(s.npts, s.pad));
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

Status finish_spectrum(const SpecSettings& s, const Grid& g, const TaperedBand& band,
                       const MonteCarloStage& montecarlo, std::pmr::memory_resource* memory,
                       SpecResults& out, const MessageSink& sink) {
  SpecResults r;
  r.nf = g.nf;
  r.df = g.df;
  r.f0 = g.f0;
  r.nbw = g.nbw;
  const ReshapeThresholds thresholds = confidence_levels(s, sink, r);
  StageWork w(memory);
  if (Status status = spectrum_estimate(s, g, band, w); !status) return status;
  if (run_cancelled(s)) return interrupted_run();
  if (s.surrogates > 0) {
    MonteCarloLevels levels;
    if (Status status = montecarlo(levels); !status) return status;
    r.montecarlo_conf = std::move(levels.local);
    r.global_conf = levels.band_wide;
  }
  if (run_cancelled(s)) return interrupted_run();
  // From here on nothing but the cancellation can stop the run, so the
  // caller's arrays may be taken; a cancelled run gives them back, rewritten.
  take_result_arrays(g, w, out, r);
  const auto give_back = [&] {
    move_result_arrays(r, out);
    return interrupted_run();
  };
  if (s.jackknife) jackknife_stage(s, g, band, w, r);
  if (s.nwin > 1) regre(*band.coefficients, band.tapsum, r.ftest);
  if (run_cancelled(s)) return give_back();
  raw_level(g, r);
  median_level(s, g, r, memory);
  if (run_cancelled(s)) return give_back();
  red_noise_fit(s, g, band, r, memory);
  if (run_cancelled(s)) return give_back();
  noise_background(s, g, band, w.back, r);
  // Reshaping needs an F statistic, so one taper leaves the spectra as they are.
  if (s.reshape && s.nwin > 1 && g.nbw <= g.nfv) {
    reshape(g, thresholds.fsel, thresholds.chithr, w.back, r);
  }
  if (s.signal == Signal::harmonic) {
    std::copy(r.specresh0.begin(), r.specresh0.begin() + g.nfv, r.specback0.begin());
  }
  out = std::move(r);
  return Status::success();
}

float sampled_red_fit(const SpecSettings& s, const Grid& g, const TaperedBand& band, float start,
                      const SampledRedShape& shape, std::pmr::memory_resource* memory) {
  StageWork w(memory);
  if (!spectrum_estimate(s, g, band, w)) return start;
  const std::size_t nfv = static_cast<std::size_t>(g.nfv);
  const int nu = 2 * s.nwin;
  const float conf0 = chsppf(0.5f, nu) / static_cast<float>(nu);
  std::pmr::vector<float> median(nfv, memory), sampled(nfv, memory), departed(nfv, memory);
  band_median(s, g, w.estimate, conf0, median, memory);
  const MisfitBand fit = ar1_band(s, g, median_mean(g, median), departed);
  constexpr double kTwoPi = 6.283185307179586;
  const double dt = static_cast<double>(s.dt);
  constexpr int kMaxFits = 10;
  // A fit within this of the coefficient its departure was taken at is
  // kept: the departure is a ratio of two spectra of that coefficient, so
  // such a step changes it by far less than the fit changes the curve.
  constexpr float kSettled = 0.005f;
  std::vector<float> tried;
  float rho = start;
  for (int n = 0; n < kMaxFits; ++n) {
    shape(rho, sampled);
    const double r = static_cast<double>(rho);
    for (std::size_t i = 0; i < nfv; ++i) {
      const double f = static_cast<double>(static_cast<float>(i) * g.df + g.f0);
      const double curve = (1.0 - r * r) / (1.0 - 2.0 * r * std::cos(kTwoPi * f * dt) + r * r);
      const double departure = static_cast<double>(sampled[i]) / curve;
      // Where the sampled spectrum is no usable number the curve stands.
      departed[i] = std::isfinite(departure) && departure > 0.0
                        ? static_cast<float>(static_cast<double>(median[i]) / departure)
                        : median[i];
    }
    tried.push_back(rho);
    const float fitted = red_noise_grid_fit(fit, start, memory);
    const bool settled = std::fabs(fitted - rho) <= kSettled;
    rho = fitted;
    if (settled || std::find(tried.begin(), tried.end(), rho) != tried.end()) break;
  }
  return rho;
}

namespace {

// Whether the tapers are those of npts values, nwin tapers and resolution p.
bool tapers_of(const RunTapers& tapers, int npts, int nwin, int p) {
  return tapers.npts == npts && tapers.nwin == nwin && tapers.p == p &&
         tapers.v.size() == static_cast<std::size_t>(npts) * static_cast<std::size_t>(nwin);
}

bool tapers_fit(const RunTapers& tapers, const SpecSettings& s) {
  return tapers_of(tapers, s.npts, s.nwin, s.p) &&
         tapers.exact_concentrations == s.exact_concentrations;
}

// The tapers of settings check_spec accepts into out, replacing what it held.
void fill_tapers(const SpecSettings& s, RunTapers& out, WorkArena& memory) {
  out = RunTapers{};
  out.v.resize(static_cast<std::size_t>(s.npts) * static_cast<std::size_t>(s.nwin));
  make_tapers(s, out.v, out.el, out.tapsum, &memory);
  out.npts = s.npts;
  out.nwin = s.nwin;
  out.p = s.p;
  out.exact_concentrations = s.exact_concentrations;
}

Status check_memory_for(const SpecSettings& s, bool tapers_given) {
  return check_memory(spec_memory(s, tapers_given),
                      "A spectrum of " + std::to_string(s.npts) + " values");
}

// One run with the tapers given, or else computed once the run is accepted:
// into keep (for later runs) when there is one, otherwise into the run
// memory. Its work arrays come from memory.
Status run_spec(std::span<const float> y, const SpecSettings& s, const RunTapers* given,
                RunTapers* keep, WorkArena& memory, SpecResults& out, const MessageSink& sink) {
  if (Status status = check_spec(s); !status) return status;
  if (given != nullptr && !tapers_fit(*given, s)) {
    return Status::failure(" The tapers given were computed for other settings.");
  }
  if (Status status = check_series(y, s); !status) return status;
  if (Status status = check_memory_for(s, given != nullptr); !status) return status;
  if (run_cancelled(s)) return interrupted_run();
  if (given == nullptr && keep != nullptr) {
    fill_tapers(s, *keep, memory);
    given = keep;
  }
  const Grid g = frequency_grid(s);
  Workspace w(&memory);
  demean(y, s, w.xdm);
  run_tapers(s, given, w, &memory);
  if (run_cancelled(s)) return interrupted_run();

  TaperedBand band;
  band.el = w.el;
  band.tapsum = w.tapsum;
  if (s.estimate == Estimate::adaptive) {
    // Squares in single precision, their sum in double.
    double sum_of_squares = 0.0;
    for (float x : w.xdm) sum_of_squares += static_cast<double>(x * x);
    band.sig2 = variance_scale(s, sum_of_squares);
  }
  if (!tapered_band(w.xdm, w.v, s, g, band, w.coefficients, &memory)) return interrupted_run();
  band.rho0 = lag1_autocorrelation(w.xdm, s);
  const MonteCarloStage montecarlo = [&](MonteCarloLevels& levels) {
    return montecarlo_levels(s, band.rho0, series_variance(w.xdm), s.surrogates, s.seed, s.jobs,
                             levels);
  };
  return finish_spectrum(s, g, band, montecarlo, &memory, out, sink);
}

}  // namespace

Status spec(std::span<const float> y, const SpecSettings& s, SpecResults& out,
            const MessageSink& sink) {
  WorkArena memory;
  return run_spec(y, s, nullptr, nullptr, memory, out, sink);
}

Status spec(std::span<const float> y, const SpecSettings& s, const RunTapers& tapers,
            SpecResults& out, const MessageSink& sink) {
  WorkArena memory;
  return run_spec(y, s, &tapers, nullptr, memory, out, sink);
}

Status spec_tapers(const SpecSettings& s, RunTapers& out) {
  if (Status status = check_spec(s); !status) return status;
  WorkArena memory;
  fill_tapers(s, out, memory);
  return Status::success();
}

bool run_cancelled(const SpecRefinements& s) { return s.cancelled && s.cancelled(); }

bool uses_median(const SpecSettings& s) {
  return s.background == Background::robust || s.noise == Noise::local;
}

Status interrupted_run() { return Status::failure(" The run was interrupted."); }

SpecSession::SpecSession() : memory_(std::make_unique<WorkArena>()) {}
SpecSession::~SpecSession() = default;
SpecSession::SpecSession(SpecSession&&) noexcept = default;
SpecSession& SpecSession::operator=(SpecSession&&) noexcept = default;

void SpecSession::keep_tapers(RunTapers tapers) { tapers_ = std::move(tapers); }

void SpecSession::forget_tapers() { tapers_ = RunTapers{}; }

void SpecSession::release_memory() { memory_ = std::make_unique<WorkArena>(); }

bool SpecSession::holds_tapers_for(const SpecSettings& s) const { return tapers_fit(tapers_, s); }

std::span<const float> SpecSession::taper_values(int npts, int nwin, int p) const {
  return tapers_of(tapers_, npts, nwin, p) ? std::span<const float>(tapers_.v)
                                           : std::span<const float>();
}

Status spec(std::span<const float> y, const SpecSettings& s, SpecSession& session,
            SpecResults& out, const MessageSink& sink) {
  if (!session.memory_) session.memory_ = std::make_unique<WorkArena>();
  const bool kept = session.holds_tapers_for(s);
  return run_spec(y, s, kept ? &session.tapers_ : nullptr, kept ? nullptr : &session.tapers_,
                  *session.memory_, out, sink);
}

std::uint64_t spec_memory(const SpecSettings& s, bool tapers_given) {
  // Bytes per value of the series, of the transform and of the band, as the
  // run's stages hold them at once, rounded up.
  const std::uint64_t n = static_cast<std::uint64_t>(std::max(s.npts, 0));
  const std::uint64_t k = static_cast<std::uint64_t>(std::max(s.nwin, 0));
  const std::uint64_t nfft = static_cast<std::uint64_t>(transform_length(std::max(s.npts, 1), std::max(s.pad, 1)));
  const std::uint64_t band = nfft / 2 + 1;
  std::uint64_t bytes = 4 * n;  // the demeaned series
  if (!tapers_given) bytes += 4 * n * k + taper_work_bytes(static_cast<int>(n));
  bytes += 36 * nfft;       // two threads' transform vectors and the bit-reversal order
  bytes += 8 * band * k;    // eigencoefficients
  bytes += 60 * band;       // estimate, result arrays, median ranks, misfit tables
  if (s.jackknife) bytes += 8 * band;
  if (s.surrogates > 0) {
    const std::uint64_t jobs = static_cast<std::uint64_t>(std::max(s.jobs, 1));
    SpecSettings plain = s;
    plain.surrogates = 0;
    plain.jackknife = false;
    bytes += 4 * n * k + 16 * band + 4 * static_cast<std::uint64_t>(s.surrogates) * band +
             jobs * spec_memory(plain, true);
  }
  return bytes;
}

}  // namespace quorvane::spectral

#include "spectral/stages/pipeline.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <memory>
#include <memory_resource>
#include <optional>
#include <span>
#include <vector>

#include "spectral/numerics/chi_square.h"
#include "spectral/numerics/fft.h"
#include "spectral/numerics/running_median.h"
#include "spectral/numerics/turns.h"
#include "spectral/numerics/two_halves.h"
#include "spectral/stages/jackknife.h"
#include "spectral/stages/red_noise.h"

namespace quorvane::spectral {

namespace {

// The stages of one spectrum run, in the order finish_spectrum calls them.
// Each reads what the earlier ones left in the work arrays or the results;
// none can fail after the estimate has been checked for overflow.

// The pi of the AR(1) background curve: the float nearest pi, as the curve is
// evaluated in single precision. (The red-noise misfit uses one float step
// less, see red_noise.cc; the curves agree to that step.)
constexpr float kBackgroundPi = 3.1415927f;

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

// The thresholds the line reshaping applies to the F statistic and to the
// ratio of the raw spectrum over its background.
struct ReshapeThresholds {
  float fsel = 0.0f;
  float chithr = 0.0f;
};

// The ratios of chi-square with nu degrees of freedom to its mean at 50,
// 90, 95 and 99 %: those kept from the last run in the same memory when
// its degrees of freedom were the same, else searched for (and kept for
// the next when the search said nothing).
std::array<float, 4> chi_square_ratios(int nu, const MessageSink& sink, RunKept* kept) {
  if (kept != nullptr && kept->nu == nu && nu > 0) return kept->conf;
  const float levels[4] = {0.5f, 0.9f, 0.95f, 0.99f};
  bool said = false;
  const MessageSink heard = [&](std::string_view line) {
    said = true;
    if (sink) sink(line);
  };
  std::array<float, 4> conf{};
  for (std::size_t j = 0; j < 4; ++j) conf[j] = chsppf(levels[j], nu, heard) / static_cast<float>(nu);
  if (kept != nullptr && !said && nu > 0) {
    kept->nu = nu;
    kept->conf = conf;
  }
  return conf;
}

// What the red-noise fit keeps in the run memory, if anything.
RedFitCache* fit_cache(const TaperedBand& band) {
  return band.kept != nullptr ? &band.kept->fit : nullptr;
}

// Confidence ratios of chi-square with 2K degrees of freedom and the F
// levels into r; returns the reshaping thresholds at the chosen level.
ReshapeThresholds confidence_levels(const SpecSettings& s, const MessageSink& sink,
                                    SpecResults& r, RunKept* kept) {
  r.conf = chi_square_ratios(2 * s.nwin, sink, kept);
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
  if (band.estimate.size() == nfv) {
    w.estimate.assign(band.estimate.begin(), band.estimate.end());
  } else {
    w.estimate.assign(nfv, 0.0f);
    estimate_of(s, band, *band.coefficients, w.estimate);
  }
  if (run_cancelled(s)) return interrupted_run();
  for (float value : w.estimate) {
    if (!std::isfinite(value)) {
      return Status::failure("The spectrum of this series exceeds the single-precision range;"
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
void median_level(const SpecSettings& s, const Grid& g, const TaperedBand& band, SpecResults& r,
                  std::pmr::memory_resource* memory) {
  if (!uses_median(s)) return;
  if (band.median.size() == static_cast<std::size_t>(g.nfv)) {
    std::copy(band.median.begin(), band.median.end(), r.specmed0.begin());
  } else {
    band_median(s, g, r.specraw0, r.conf[0], r.specmed0, memory);
  }
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
    r.rho = red_noise_grid_fit(ar1_band(s, g, r.s0, r.specmed0), rho0, memory, fit_cache(band));
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

// The work of large series is shared between two threads: a long transform
// is split between them, which needs one pair of transform vectors instead
// of two; shorter ones go to the two threads taper by taper.
bool band_eigencoefficients(std::span<const float> x, std::span<const float> tapers, int nwin,
                            const Grid& g, double norm, Eigencoefficients& out,
                            std::pmr::memory_resource* memory,
                            const std::function<bool()>& cancelled, const FftPlan* given) {
  const std::size_t nfft = static_cast<std::size_t>(g.nfft);
  std::optional<FftPlan> own;
  if (given == nullptr || given->size() != nfft) given = &own.emplace(nfft, memory);
  const FftPlan& plan = *given;
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
  const bool raw_red =
      s.noise == Noise::red && s.background == Background::raw && s.signal != Signal::harmonic;
  // The transform plan is kept with the run memory for the next run of the
  // same length.
  const FftPlan* plan = nullptr;
  if (band.kept != nullptr) {
    std::unique_ptr<FftPlan>& kept = band.kept->fft;
    if (!kept || kept->size() != static_cast<std::size_t>(g.nfft))
      kept = std::make_unique<FftPlan>(static_cast<std::size_t>(g.nfft));
    plan = kept.get();
  }
  if (!raw_red || whole_band(s, g)) {
    out.resize(g.nfv, s.nwin);
    return band_eigencoefficients(x, tapers, s.nwin, g, norm, out, memory, s.cancelled, plan);
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
  if (!band_eigencoefficients(x, tapers, s.nwin, reach, norm, out, memory, s.cancelled, plan))
    return false;
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

Status finish_spectrum(const SpecSettings& s, const Grid& g, const TaperedBand& band,
                       const MonteCarloStage& montecarlo, std::pmr::memory_resource* memory,
                       SpecResults& out, const MessageSink& sink) {
  SpecResults r;
  r.nf = g.nf;
  r.df = g.df;
  r.f0 = g.f0;
  r.nbw = g.nbw;
  const ReshapeThresholds thresholds = confidence_levels(s, sink, r, band.kept);
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
  median_level(s, g, band, r, memory);
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
                      const SampledRedShape& shape, std::pmr::memory_resource* memory,
                      SampledFitWork* work) {
  StageWork w(memory);
  if (!spectrum_estimate(s, g, band, w)) return start;
  const std::size_t nfv = static_cast<std::size_t>(g.nfv);
  const float conf0 = chi_square_ratios(2 * s.nwin, {}, band.kept)[0];
  std::pmr::vector<float> median(nfv, memory), sampled(nfv, memory), departed(nfv, memory);
  band_median(s, g, w.estimate, conf0, median, memory);
  if (work != nullptr) {
    work->estimate.assign(w.estimate.begin(), w.estimate.end());
    work->median.assign(median.begin(), median.end());
  }
  const MisfitBand fit = ar1_band(s, g, median_mean(g, median), departed);
  const double dt = static_cast<double>(s.dt);
  constexpr int kMaxFits = 10;
  // A fit within this of the coefficient its departure was taken at is
  // kept: the departure is a ratio of two spectra of that coefficient, so
  // such a step changes it by far less than the fit changes the curve.
  constexpr float kSettled = 0.005f;
  std::vector<float> tried;
  float rho = start;
  // cos(2 pi f dt) over the band, f dt in [0, 1/2] (up to the Nyquist
  // frequency), in whole turns.
  std::pmr::vector<double> cosine(nfv, memory), sine(nfv, memory);
  for (std::size_t i = 0; i < nfv; ++i) {
    const double f = static_cast<double>(static_cast<float>(i) * g.df + g.f0);
    cosine[i] = fraction(f * dt);
  }
  turns(cosine, sine);
  for (int n = 0; n < kMaxFits; ++n) {
    shape(rho, sampled);
    const double r = static_cast<double>(rho);
    for (std::size_t i = 0; i < nfv; ++i) {
      const double curve = (1.0 - r * r) / (1.0 - 2.0 * r * cosine[i] + r * r);
      const double departure = static_cast<double>(sampled[i]) / curve;
      // Where the sampled spectrum is no usable number the curve stands.
      departed[i] = std::isfinite(departure) && departure > 0.0
                        ? static_cast<float>(static_cast<double>(median[i]) / departure)
                        : median[i];
    }
    tried.push_back(rho);
    const float fitted = red_noise_grid_fit(fit, start, memory, fit_cache(band));
    const bool settled = std::fabs(fitted - rho) <= kSettled;
    rho = fitted;
    if (settled || std::find(tried.begin(), tried.end(), rho) != tried.end()) break;
  }
  return rho;
}

}  // namespace quorvane::spectral

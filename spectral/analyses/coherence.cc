#include "spectral/analyses/coherence.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstddef>
#include <memory>
#include <numbers>
#include <string>

#include "common/memory.h"
#include "spectral/estimators/even.h"
#include "spectral/estimators/uneven.h"
#include "spectral/numerics/concentrations.h"
#include "spectral/numerics/nufft.h"
#include "spectral/numerics/tapers.h"
#include "spectral/numerics/two_halves.h"
#include "spectral/numerics/work_arena.h"
#include "spectral/sampling.h"
#include "spectral/series.h"
#include "spectral/significance/montecarlo.h"
#include "spectral/significance/persistence.h"
#include "spectral/significance/surrogates.h"
#include "spectral/stages/eigenspectra.h"
#include "spectral/stages/jackknife.h"
#include "spectral/stages/pipeline.h"

namespace quorvane::spectral {

namespace {

constexpr std::array<double, 4> kProbabilities = {0.5, 0.9, 0.95, 0.99};
constexpr double kDegrees = 180.0 / std::numbers::pi;
// Bands at least this long go to two threads, as in the estimators.
constexpr int kThreadedCount = 8192;
// atanh of a coherence of 1 is infinite; the jackknife stops just short.
constexpr double kLargestRoot = 1.0 - 1.0e-12;

// The spectrum settings with the same tapers, grid and checks. A white,
// raw background needs no running median, whose smoothing width would be
// checked otherwise.
SpecSettings spectrum_settings(const CoherenceSettings& c, int npts) {
  SpecSettings s;
  s.nwin = c.nwin;
  s.p = c.p;
  s.dt = c.dt;
  s.npts = npts;
  s.fmin = c.fmin;
  s.fmax = c.fmax;
  s.pad = c.pad;
  s.exact_concentrations = c.exact_concentrations;
  s.estimate = c.adaptive ? Estimate::adaptive : Estimate::hires;
  s.noise = Noise::white;
  s.background = Background::raw;
  s.reshape = false;
  s.cancelled = c.cancelled;
  return s;
}

// One record on the band: its demeaned values (in single precision, as the
// spectrum demeans them), eigencoefficients and, for adaptive weights, its
// adaptive spectrum on the scale of the eigenspectra.
struct RecordBand {
  explicit RecordBand(std::pmr::memory_resource* memory) : y(memory) {}
  std::vector<float> x;
  Eigencoefficients y;
  std::vector<float> adaptive;
  double sig2 = 0.0;
};

// False when the settings' cancellation stopped it.
bool record_band(std::span<const float> values, const SpecSettings& s, const RunTapers& tapers,
                 const Grid& g, std::pmr::memory_resource* memory, RecordBand& r) {
  r.x.resize(values.size());
  demean(values, r.x);
  r.y.resize(g.nfv, s.nwin);
  if (!band_eigencoefficients(r.x, tapers.v, s.nwin, g, band_normalisation(s), r.y, memory,
                              s.cancelled))
    return false;
  if (s.estimate == Estimate::hires) return true;
  r.sig2 = variance_scale(s, sum_of_squares(r.x));
  r.adaptive.resize(static_cast<std::size_t>(g.nfv));
  adwait(r.y, tapers.el, r.sig2, r.adaptive);
  return true;
}

// Where the entries' results go; only coherence is needed for a surrogate.
struct CrossOutput {
  float* coherence = nullptr;
  float* coherence_lower = nullptr;
  float* coherence_upper = nullptr;
  float* phase = nullptr;
  float* phase_lower = nullptr;
  float* phase_upper = nullptr;
  float* gain = nullptr;
  float* spectrum_a = nullptr;
  float* spectrum_b = nullptr;
};

// The adaptive weights of one entry at its adaptive estimate S (on the
// scale of the eigenspectra): d_k = sqrt(el_k) S' / (el_k S' + 1 - el_k),
// S' = S / sig2, as adwait iterates them.
void adaptive_weights(const RecordBand& r, std::span<const double> el, int i, int nwin,
                      double* w) {
  const double s = r.sig2 > 0.0 ? static_cast<double>(r.adaptive[static_cast<std::size_t>(i)]) / r.sig2 : 0.0;
  for (int k = 0; k < nwin; ++k) {
    const double e = el[static_cast<std::size_t>(k)];
    const double den = e * s + 1.0 - e;
    w[k] = den > 0.0 ? std::sqrt(e) * s / den : 0.0;
  }
}

// Entries [first, last) of the cross-spectrum, in double precision.
void cross_entries(const RecordBand& a, const RecordBand& b, std::span<const double> el,
                   bool adaptive, int first, int last, const CrossOutput& out) {
  const int nwin = a.y.nwin;
  const double t = student_t975(nwin - 1);
  const double scale = static_cast<double>(nwin - 1) / nwin;
  double wa[8], wb[8], pr[8], pi[8], pa[8], pb[8];
  std::fill(wa, wa + 8, 1.0);
  std::fill(wb, wb + 8, 1.0);
  for (int i = first; i < last; ++i) {
    if (adaptive) {
      adaptive_weights(a, el, i, nwin, wa);
      adaptive_weights(b, el, i, nwin, wb);
    }
    double sr = 0.0, si = 0.0, saa = 0.0, sbb = 0.0, wa2 = 0.0, wb2 = 0.0;
    for (int k = 0; k < nwin; ++k) {
      const std::size_t at = a.y.at(i, k);
      // The transform of the eigencoefficients has the kernel exp(+i 2 pi f t);
      // their conjugates are those of the usual exp(-i 2 pi f t), under which
      // Y_a conj(Y_b) turns positive when B lags A.
      const double ar = a.y.yr[at], ai = -a.y.yi[at], br = b.y.yr[at], bi = -b.y.yi[at];
      const double w = wa[k] * wb[k];
      // Y_a conj(Y_b)
      pr[k] = w * (ar * br + ai * bi);
      pi[k] = w * (ai * br - ar * bi);
      pa[k] = wa[k] * wa[k] * (ar * ar + ai * ai);
      pb[k] = wb[k] * wb[k] * (br * br + bi * bi);
      sr += pr[k];
      si += pi[k];
      saa += pa[k];
      sbb += pb[k];
      wa2 += wa[k] * wa[k];
      wb2 += wb[k] * wb[k];
    }
    const std::size_t e = static_cast<std::size_t>(i);
    const double cross2 = sr * sr + si * si;
    const bool defined = saa > 0.0 && sbb > 0.0;
    const double c = defined ? std::min(cross2 / (saa * sbb), 1.0) : 0.0;
    out.coherence[e] = static_cast<float>(c);
    if (out.phase == nullptr) continue;
    out.spectrum_a[e] = wa2 > 0.0 ? static_cast<float>(saa / wa2) : 0.0f;
    out.spectrum_b[e] = wb2 > 0.0 ? static_cast<float>(sbb / wb2) : 0.0f;
    if (!defined || cross2 == 0.0) {
      out.coherence_lower[e] = out.coherence_upper[e] = 0.0f;
      out.phase[e] = out.phase_lower[e] = out.phase_upper[e] = out.gain[e] = 0.0f;
      continue;
    }
    // |S_ab| / S_aa with both normalised by their weights.
    out.gain[e] = static_cast<float>(std::sqrt(cross2) * std::sqrt(wa2 / wb2) / saa);
    double phase = std::atan2(si, sr) * kDegrees;
    if (phase <= -180.0) phase += 360.0;
    out.phase[e] = static_cast<float>(phase);

    // Delete-one-taper estimates: the sums less taper k's terms.
    double z[8], mean_z = 0.0, ur = 0.0, ui = 0.0;
    for (int k = 0; k < nwin; ++k) {
      const double r = sr - pr[k], m = si - pi[k];
      const double da = saa - pa[k], db = sbb - pb[k];
      const double magnitude = std::sqrt(r * r + m * m);
      const double ck = da > 0.0 && db > 0.0 ? (r * r + m * m) / (da * db) : 0.0;
      z[k] = std::atanh(std::min(std::sqrt(ck), kLargestRoot));
      mean_z += z[k];
      if (magnitude > 0.0) {
        ur += r / magnitude;
        ui += m / magnitude;
      }
    }
    mean_z /= nwin;
    double spread = 0.0;
    for (int k = 0; k < nwin; ++k) spread += (z[k] - mean_z) * (z[k] - mean_z);
    const double half_z = t * std::sqrt(scale * spread);
    const double centre = std::atanh(std::min(std::sqrt(c), kLargestRoot));
    const double low = std::tanh(std::max(centre - half_z, 0.0));
    const double high = std::tanh(centre + half_z);
    out.coherence_lower[e] = static_cast<float>(low * low);
    out.coherence_upper[e] = static_cast<float>(high * high);
    const double resultant = std::min(std::sqrt(ur * ur + ui * ui) / nwin, 1.0);
    const double half_phase =
        std::min(t * std::sqrt(2.0 * (nwin - 1) * (1.0 - resultant)) * kDegrees, 180.0);
    out.phase_lower[e] = static_cast<float>(phase - half_phase);
    out.phase_upper[e] = static_cast<float>(phase + half_phase);
  }
}

void cross_spectrum(const RecordBand& a, const RecordBand& b, std::span<const double> el,
                    bool adaptive, const CrossOutput& out) {
  const int count = a.y.count;
  auto body = [&](int first, int last) { cross_entries(a, b, el, adaptive, first, last, out); };
  if (count >= kThreadedCount) {
    const int middle = count / 2;
    run_two_halves([&] { body(0, middle); }, [&] { body(middle, count); });
  } else {
    body(0, count);
  }
}

// The AR(1) model of the surrogates of demeaned values: their lag-one
// autocorrelation and variance, in double precision; the coefficient kept
// inside (-1, 1), which AR(1) needs.
void surrogate_model(const std::vector<float>& x, float& rho, float& variance) {
  double ssq = 0.0, lag = 0.0;
  for (std::size_t t = 0; t < x.size(); ++t) ssq += static_cast<double>(x[t]) * x[t];
  for (std::size_t t = 1; t < x.size(); ++t) lag += static_cast<double>(x[t - 1]) * x[t];
  const double var = ssq / static_cast<double>(x.size());
  const double c1 = lag / static_cast<double>(x.size() - 1);
  rho = var > 0.0 ? static_cast<float>(std::clamp(c1 / var, -0.999, 0.999)) : 0.0f;
  variance = static_cast<float>(var);
}

// The analytic levels of the equal-weight coherence of K tapers:
// P(C > c) = (1 - c)^(K-1).
void analytic_levels(int nwin, std::size_t n, CoherenceResult& r) {
  for (std::size_t j = 0; j < 4; ++j) {
    const double level = 1.0 - std::pow(1.0 - kProbabilities[j], 1.0 / (nwin - 1));
    r.levels[j].assign(n, static_cast<float>(level));
  }
}

void coherent_maxima(CoherenceResult& r) {
  const std::size_t n = r.coherence.size();
  // Local maxima (above the entry below, not below the one above; the band
  // ends compare with their one neighbour) above the 95 % level.
  for (std::size_t i = 0; i < n; ++i) {
    const float v = r.coherence[i];
    if (!(v > r.levels[2][i])) continue;
    if (i > 0 && !(v > r.coherence[i - 1])) continue;
    if (i + 1 < n && v < r.coherence[i + 1]) continue;
    r.coherent.push_back({static_cast<int>(i), r.frequency[i], v, r.coherence_lower[i],
                          r.coherence_upper[i], r.phase[i], r.phase_lower[i], r.phase_upper[i],
                          v > r.levels[3][i] ? 99 : 95});
  }
}

// The result's band and its arrays, sized for every entry.
void band_result(const Grid& g, CoherenceResult& r) {
  r.count = g.nfv;
  r.f0 = g.f0;
  r.df = g.df;
  const std::size_t n = static_cast<std::size_t>(g.nfv);
  r.frequency.resize(n);
  for (std::size_t i = 0; i < n; ++i) r.frequency[i] = g.f0 + static_cast<float>(i) * g.df;
  for (auto* v : {&r.coherence, &r.coherence_lower, &r.coherence_upper, &r.phase, &r.phase_lower,
                  &r.phase_upper, &r.gain, &r.spectrum_a, &r.spectrum_b})
    v->resize(n);
}

CrossOutput every_output(CoherenceResult& r) {
  return {r.coherence.data(),   r.coherence_lower.data(), r.coherence_upper.data(),
          r.phase.data(),       r.phase_lower.data(),     r.phase_upper.data(),
          r.gain.data(),        r.spectrum_a.data(),      r.spectrum_b.data()};
}

// A worker's surrogate pair: its records' storage, kept from one pair to
// the next.
struct SurrogatePair {
  WorkArena memory;
  RecordBand a{&memory}, b{&memory};
  std::vector<float> xa, xb;  // the surrogate values
};
// Draws a surrogate pair and forms both records' bands; false when the
// run's cancellation stopped it.
using DrawPair = std::function<bool(RandomStream& random, SurrogatePair& pair)>;

// The levels of r: with surrogates, the quantiles of the coherence of the
// pairs `draw` makes (the levels read it as a ratio to 1) and of its
// largest value over the band; else the analytic ones.
Status coherence_levels(const CoherenceSettings& c, const Grid& g, std::span<const double> el,
                        const DrawPair& draw, CoherenceResult& r) {
  const std::size_t n = r.coherence.size();
  if (c.surrogates <= 0) {
    analytic_levels(c.nwin, n, r);
    return Status::success();
  }
  r.montecarlo = true;
  const auto make_worker = [&]() -> SurrogateWorker {
    auto work = std::make_shared<SurrogatePair>();
    return [&, work](RandomStream& random, SpecResults& result) {
      if (!draw(random, *work)) return interrupted_run();
      result.nf = g.nf;
      result.specraw0.assign(static_cast<std::size_t>(g.nf), 0.0f);
      result.specback0.assign(static_cast<std::size_t>(g.nf), 1.0f);
      CrossOutput coherence_only;
      coherence_only.coherence = result.specraw0.data();
      cross_spectrum(work->a, work->b, el, c.adaptive, coherence_only);
      return Status::success();
    };
  };
  MonteCarloLevels levels;
  if (Status status =
          surrogate_levels(c.surrogates, c.seed, c.jobs, make_worker, levels, c.cancelled);
      !status) {
    return status;
  }
  for (std::size_t j = 0; j < 4; ++j) {
    r.levels[j] = std::move(levels.local[j]);
    r.levels[j].resize(n);
  }
  r.band_wide = levels.band_wide;
  return Status::success();
}

}  // namespace

Status coherence(std::span<const float> a, std::span<const float> b,
                 const CoherenceSettings& c, CoherenceResult& out) {
  if (a.size() != b.size()) {
    return Status::failure("The two records hold " + std::to_string(a.size()) + " and " +
                           std::to_string(b.size()) + " values; a coherence needs them on the "
                           "same times.");
  }
  if (c.nwin < 2) {
    return Status::failure("A coherence needs at least 2 tapers (there is " +
                           std::to_string(c.nwin) + "): with one it is 1 everywhere.");
  }
  if (a.size() < static_cast<std::size_t>(2 * c.nwin)) {
    return Status::failure("The records share " + std::to_string(a.size()) +
                           " values; a coherence with " + std::to_string(c.nwin) +
                           " tapers needs at least " + std::to_string(2 * c.nwin) + ".");
  }
  if (a.size() > static_cast<std::size_t>(1) << 30) {
    return Status::failure("The records hold " + std::to_string(a.size()) +
                           " values; the coherence takes at most 2^30.");
  }
  if (c.adaptive && c.surrogates < 1) {
    return Status::failure("The adaptive coherence has no analytic level: give surrogates for "
                           "Monte Carlo levels.");
  }
  const int npts = static_cast<int>(a.size());
  SpecSettings s = spectrum_settings(c, npts);
  s.surrogates = c.surrogates;
  s.seed = c.seed;
  s.jobs = c.jobs;
  if (Status status = check_spec(s); !status) return status;
  for (std::span<const float> record : {a, b}) {
    for (std::size_t t = 0; t < record.size(); ++t) {
      if (!std::isfinite(record[t])) {
        return Status::failure("Value " + std::to_string(t + 1) + " of record " +
                               (record.data() == a.data() ? "A" : "B") +
                               " is not a finite number.");
      }
    }
  }
  // Two records' spectrum work, their cross-spectrum and, for surrogates,
  // a worker's copy of it per job and every surrogate coherence.
  const Grid g = frequency_grid(s);
  const std::uint64_t band = static_cast<std::uint64_t>(g.nfv);
  SpecSettings plain = s;
  plain.surrogates = 0;
  std::uint64_t bytes = 2 * spec_memory(plain) + 48 * band;
  if (c.surrogates > 0) {
    bytes += static_cast<std::uint64_t>(c.jobs) * spec_memory(plain, true) +
             4 * static_cast<std::uint64_t>(c.surrogates) * band;
  }
  if (Status status = check_memory(bytes, "A coherence of " + std::to_string(npts) + " values");
      !status) {
    return status;
  }
  if (run_cancelled(s)) return interrupted_run();
  RunTapers tapers;
  if (Status status = spec_tapers(plain, tapers); !status) return status;
  if (run_cancelled(s)) return interrupted_run();

  WorkArena memory;
  RecordBand ra(&memory), rb(&memory);
  if (!record_band(a, plain, tapers, g, &memory, ra) ||
      !record_band(b, plain, tapers, g, &memory, rb))
    return interrupted_run();

  CoherenceResult r;
  band_result(g, r);
  cross_spectrum(ra, rb, tapers.el, c.adaptive, every_output(r));
  if (run_cancelled(s)) return interrupted_run();
  float var_a = 0.0f, var_b = 0.0f;
  surrogate_model(ra.x, r.rho_a, var_a);
  surrogate_model(rb.x, r.rho_b, var_b);

  const float rho_a = r.rho_a, rho_b = r.rho_b;
  const DrawPair draw = [&](RandomStream& random, SurrogatePair& pair) {
    pair.xa.resize(a.size());
    pair.xb.resize(a.size());
    ar1_surrogate(rho_a, var_a, random, pair.xa);
    ar1_surrogate(rho_b, var_b, random, pair.xb);
    return record_band(pair.xa, plain, tapers, g, &pair.memory, pair.a) &&
           record_band(pair.xb, plain, tapers, g, &pair.memory, pair.b);
  };
  if (Status status = coherence_levels(c, g, tapers.el, draw, r); !status) return status;

  coherent_maxima(r);
  out = std::move(r);
  return Status::success();
}

namespace {

// One record of a pair on its own times: its times and values in the
// shared span, the span's tapers at those times, the transform from them
// to the band and the scale of its coefficients.
struct TimedRecord {
  std::span<const double> time;
  std::span<const float> y;
  std::vector<float> v;  // taper k at time j: v[k * n + j]
  std::vector<float> tapsum;
  NufftPlan transform;
  double scale = 1.0;  // T / (N dt)
};

Status check_timed(std::span<const double> time, std::span<const float> y, const char* name) {
  if (time.size() != y.size()) {
    return Status::failure(std::string("Record ") + name + " has " +
                           std::to_string(time.size()) + " times for " +
                           std::to_string(y.size()) + " values.");
  }
  for (std::size_t j = 0; j < time.size(); ++j) {
    if (!std::isfinite(time[j]) || (j > 0 && !(time[j] > time[j - 1]))) {
      return Status::failure(std::string("Time ") + std::to_string(j + 1) + " of record " +
                             name + " is not a finite number after the one before it; the "
                             "times must increase.");
    }
    if (!std::isfinite(y[j])) {
      return Status::failure("Value " + std::to_string(j + 1) + " of record " + name +
                             " is not a finite number.");
    }
  }
  return Status::success();
}

// The values of `time` inside [first, last]: their first index and count.
void inside(std::span<const double> time, double first, double last, std::size_t& from,
            std::size_t& count) {
  const auto begin = std::lower_bound(time.begin(), time.end(), first);
  const auto end = std::upper_bound(begin, time.end(), last);
  from = static_cast<std::size_t>(begin - time.begin());
  count = static_cast<std::size_t>(end - begin);
}

// The eigencoefficients of values x (demeaned, one per time of r) on the
// band; false when cancelled. For adaptive weights the record's adaptive
// spectrum as well, with the variance scale of its coefficients.
bool timed_band(const TimedRecord& r, std::span<const float> x, int nwin,
                std::span<const double> el, bool adaptive, int count,
                const std::function<bool()>& cancelled, RecordBand& out) {
  const std::size_t n = x.size();
  out.y.resize(count, nwin);
  NufftPlan::Work work;
  std::vector<double> strength(n);
  std::vector<std::complex<double>> transform(static_cast<std::size_t>(count));
  for (int k = 0; k < nwin; ++k) {
    if (cancelled && cancelled()) return false;
    const float* v = r.v.data() + static_cast<std::size_t>(k) * n;
    for (std::size_t j = 0; j < n; ++j) strength[j] = static_cast<double>(v[j] * x[j]);
    r.transform.transform(strength, transform, work, cancelled);
    for (int i = 0; i < count; ++i) {
      const std::complex<double> value = transform[static_cast<std::size_t>(i)] * r.scale;
      out.y.yr[out.y.at(i, k)] = static_cast<float>(value.real());
      out.y.yi[out.y.at(i, k)] = static_cast<float>(value.imag());
    }
  }
  if (!adaptive) return true;
  out.sig2 = sum_of_squares(x) * r.scale * r.scale;
  out.adaptive.resize(static_cast<std::size_t>(count));
  adwait(out.y, el, out.sig2, out.adaptive);
  return true;
}

}  // namespace

Status coherence_on_times(std::span<const double> ta, std::span<const float> a,
                          std::span<const double> tb, std::span<const float> b,
                          const CoherenceSettings& c, CoherenceResult& out, TimedPair& pair) {
  if (Status status = check_timed(ta, a, "A"); !status) return status;
  if (Status status = check_timed(tb, b, "B"); !status) return status;
  if (c.nwin < 2) {
    return Status::failure("A coherence needs at least 2 tapers (there is " +
                           std::to_string(c.nwin) + "): with one it is 1 everywhere.");
  }
  if (c.adaptive && c.surrogates < 1) {
    return Status::failure("The adaptive coherence has no analytic level: give surrogates for "
                           "Monte Carlo levels.");
  }
  if (ta.empty() || tb.empty() || std::min(ta.back(), tb.back()) <= std::max(ta.front(), tb.front())) {
    return Status::failure("The records do not overlap.");
  }
  TimedPair p;
  p.first = std::max(ta.front(), tb.front());
  p.last = std::min(ta.back(), tb.back());
  const double dt = static_cast<double>(c.dt);
  p.span = p.last - p.first + dt;
  inside(ta, p.first, p.last, p.first_a, p.count_a);
  inside(tb, p.first, p.last, p.first_b, p.count_b);
  const std::size_t least = std::max<std::size_t>(2 * static_cast<std::size_t>(c.nwin),
                                                  c.surrogates > 0 ? 10 : 0);
  if (std::min(p.count_a, p.count_b) < least) {
    return Status::failure("The records hold " + std::to_string(p.count_a) + " and " +
                           std::to_string(p.count_b) + " values in the span they share; a "
                           "coherence with " + std::to_string(c.nwin) + " tapers" +
                           (c.surrogates > 0 ? " and surrogates" : "") + " needs at least " +
                           std::to_string(least) + " of each.");
  }
  if (std::max(p.count_a, p.count_b) > static_cast<std::size_t>(1) << 30) {
    return Status::failure("The records hold more than 2^30 values; the coherence takes at "
                           "most that many.");
  }
  const int npts = static_cast<int>(std::max(p.count_a, p.count_b));
  SpecSettings s = spectrum_settings(c, npts);
  s.surrogates = c.surrogates;
  s.seed = c.seed;
  s.jobs = c.jobs;
  if (Status status = check_spec_settings(s); !status) return status;
  const double df = 1.0 / (p.span * s.pad);
  const float single_df = static_cast<float>(df);
  if (!(single_df > 0.0f) || !std::isfinite(single_df)) {
    return Status::failure("The shared span is too long or too short for a spectrum.");
  }
  Grid g = band_grid(s, single_df);
  g.nray = s.pad;
  g.nbw = 2 * s.p * s.pad;
  if (Status status = check_band(s, g); !status) return status;

  const int cells = std::max(npts, 1024);
  const std::uint64_t n_all = p.count_a + p.count_b;
  const std::uint64_t band = static_cast<std::uint64_t>(std::max(g.nf, 1));
  const std::uint64_t k = static_cast<std::uint64_t>(c.nwin);
  std::uint64_t bytes = n_all * (4 * k + 60) + 4 * static_cast<std::uint64_t>(cells) * k +
                        taper_work_bytes(cells) + band * (16 * k + 200);
  if (c.surrogates > 0) {
    bytes += static_cast<std::uint64_t>(c.jobs) * (n_all * 16 + band * (16 * k + 64)) +
             4 * static_cast<std::uint64_t>(c.surrogates) * band;
  }
  if (Status status = check_memory(bytes, "A coherence of " + std::to_string(p.count_a) +
                                              " and " + std::to_string(p.count_b) + " values");
      !status) {
    return status;
  }
  if (run_cancelled(s)) return interrupted_run();

  // The tapers of the span, at each record's times.
  std::vector<double> el(static_cast<std::size_t>(c.nwin));
  TimedRecord records[2];
  {
    WorkArena memory;
    std::pmr::vector<float> grid_v(static_cast<std::size_t>(cells) * k, &memory);
    std::vector<float> grid_sum(k);
    std::vector<double> dlam(k);
    compute_tapers(cells, c.nwin, static_cast<float>(c.p), grid_v, el, grid_sum, dlam,
                   EigenPath::Fast, &memory);
    if (run_cancelled(s)) return interrupted_run();
    if (c.exact_concentrations) taper_concentrations(cells, c.nwin, static_cast<float>(c.p), grid_v, el);
    const std::span<const double> times[2] = {ta.subspan(p.first_a, p.count_a),
                                              tb.subspan(p.first_b, p.count_b)};
    const std::span<const float> values[2] = {a.subspan(p.first_a, p.count_a),
                                              b.subspan(p.first_b, p.count_b)};
    for (int r = 0; r < 2; ++r) {
      TimedRecord& record = records[r];
      record.time = times[r];
      record.y = values[r];
      const std::size_t n = record.time.size();
      record.v.resize(n * k);
      record.tapsum.resize(k);
      sampled_tapers(grid_v, cells, c.nwin, record.time, p.first, dt / 2.0, p.span, record.v,
                     record.tapsum);
      record.scale = p.span / (static_cast<double>(n) * dt);
      if (Status status = NufftPlan::make(record.time, p.first, g.i0 * df, df, g.nfv,
                                          record.transform, c.cancelled);
          !status) {
        return status;
      }
      if (run_cancelled(s)) return interrupted_run();
    }
  }

  WorkArena memory;
  RecordBand band_a(&memory), band_b(&memory);
  RecordBand* bands[2] = {&band_a, &band_b};
  for (int r = 0; r < 2; ++r) {
    bands[r]->x.resize(records[r].y.size());
    demean(records[r].y, bands[r]->x);
    if (!timed_band(records[r], bands[r]->x, c.nwin, el, c.adaptive, g.nfv, c.cancelled,
                    *bands[r]))
      return interrupted_run();
  }

  CoherenceResult r;
  band_result(g, r);
  cross_spectrum(band_a, band_b, el, c.adaptive, every_output(r));
  if (run_cancelled(s)) return interrupted_run();

  // Each record's persistence on its own times, for its surrogates and
  // the coefficients the result reports.
  double variance[2] = {0.0, 0.0};
  double tau[2] = {0.0, 0.0};
  for (int k2 = 0; k2 < 2; ++k2) {
    const std::vector<float>& x = bands[k2]->x;
    variance[k2] = static_cast<double>(series_variance(x, x.size()));
    const bool constant = std::all_of(x.begin(), x.end(), [](float v) { return v == 0.0f; });
    if (!constant && x.size() >= 10) {
      if (Status status = persistence_time(records[k2].time, records[k2].y, tau[k2], c.cancelled);
          !status)
        return status;
    }
  }
  p.tau_a = tau[0];
  p.tau_b = tau[1];
  r.rho_a = coefficient_of(tau[0], c.dt);
  r.rho_b = coefficient_of(tau[1], c.dt);

  const DrawPair draw = [&](RandomStream& random, SurrogatePair& surrogate) {
    std::vector<float>* x[2] = {&surrogate.xa, &surrogate.xb};
    RecordBand* band[2] = {&surrogate.a, &surrogate.b};
    for (int k2 = 0; k2 < 2; ++k2) {
      x[k2]->resize(records[k2].y.size());
      ar1_surrogate_on_times(records[k2].time, tau[k2], variance[k2], random, *x[k2]);
      if (!timed_band(records[k2], *x[k2], c.nwin, el, c.adaptive, g.nfv, c.cancelled, *band[k2]))
        return false;
    }
    return true;
  };
  if (Status status = coherence_levels(c, g, el, draw, r); !status) return status;
  coherent_maxima(r);
  out = std::move(r);
  pair = p;
  return Status::success();
}

Status coherence_interpolated(std::span<const double> ta, std::span<const float> a,
                              std::span<const double> tb, std::span<const float> b,
                              const CoherenceSettings& c, CoherenceResult& out, TimedPair& pair) {
  if (Status status = check_timed(ta, a, "A"); !status) return status;
  if (Status status = check_timed(tb, b, "B"); !status) return status;
  if (ta.size() < 2 || tb.size() < 2 ||
      std::min(ta.back(), tb.back()) <= std::max(ta.front(), tb.front())) {
    return Status::failure("The records do not overlap.");
  }
  TimedPair p;
  const double dt = static_cast<double>(c.dt);
  p.first = std::max(ta.front(), tb.front());
  const double end = std::min(ta.back(), tb.back());
  // The last grid time at or just below the end (a step's 1e-9 spares a
  // span that is a whole number of steps from rounding below it).
  const std::size_t m = static_cast<std::size_t>(std::floor((end - p.first) / dt + 1e-9)) + 1;
  p.last = p.first + static_cast<double>(m - 1) * dt;
  p.span = static_cast<double>(m) * dt;
  inside(ta, p.first, end, p.first_a, p.count_a);
  inside(tb, p.first, end, p.first_b, p.count_b);
  std::vector<float> ya, yb;
  interpolate_at(ta, a, p.first, dt, m, ya);
  interpolate_at(tb, b, p.first, dt, m, yb);
  if (Status status = coherence(ya, yb, c, out); !status) return status;
  pair = p;
  return Status::success();
}

double pair_step(double median_a, double median_b, double common) {
  return common > 0.0 ? common : std::max(median_a, median_b);
}

PairAlignment align_pair(std::span<const double> ta, double da, std::span<const double> tb,
                         double db, PairOverlap& overlap) {
  constexpr double kStepTolerance = 1e-4, kGridTolerance = 1e-3;
  overlap.offset = (tb.front() - ta.front()) / da;
  if (std::fabs(da - db) > kStepTolerance * std::max(da, db)) return PairAlignment::steps_differ;
  if (std::fabs(overlap.offset - std::round(overlap.offset)) > kGridTolerance)
    return PairAlignment::off_grid;
  const double start = std::max(ta.front(), tb.front());
  const double end = std::min(ta.back(), tb.back());
  if (end < start - kGridTolerance * da) return PairAlignment::disjoint;
  overlap.dt = da;
  overlap.first_a = static_cast<std::size_t>(std::lround((start - ta.front()) / da));
  overlap.first_b = static_cast<std::size_t>(std::lround((start - tb.front()) / da));
  overlap.count = std::min(ta.size() - overlap.first_a, tb.size() - overlap.first_b);
  return PairAlignment::aligned;
}

}  // namespace quorvane::spectral

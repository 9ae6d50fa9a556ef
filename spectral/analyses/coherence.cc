#include "spectral/analyses/coherence.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <memory>
#include <numbers>
#include <string>

#include "common/memory.h"
#include "spectral/estimators/even.h"
#include "spectral/numerics/two_halves.h"
#include "spectral/numerics/work_arena.h"
#include "spectral/series.h"
#include "spectral/significance/montecarlo.h"
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
  r.count = g.nfv;
  r.f0 = g.f0;
  r.df = g.df;
  const std::size_t n = static_cast<std::size_t>(g.nfv);
  r.frequency.resize(n);
  for (std::size_t i = 0; i < n; ++i) r.frequency[i] = g.f0 + static_cast<float>(i) * g.df;
  for (auto* v : {&r.coherence, &r.coherence_lower, &r.coherence_upper, &r.phase, &r.phase_lower,
                  &r.phase_upper, &r.gain, &r.spectrum_a, &r.spectrum_b})
    v->resize(n);
  cross_spectrum(ra, rb, tapers.el, c.adaptive,
                 {r.coherence.data(), r.coherence_lower.data(), r.coherence_upper.data(),
                  r.phase.data(), r.phase_lower.data(), r.phase_upper.data(), r.gain.data(),
                  r.spectrum_a.data(), r.spectrum_b.data()});
  if (run_cancelled(s)) return interrupted_run();
  float var_a = 0.0f, var_b = 0.0f;
  surrogate_model(ra.x, r.rho_a, var_a);
  surrogate_model(rb.x, r.rho_b, var_b);

  if (c.surrogates > 0) {
    r.montecarlo = true;
    const float rho_a = r.rho_a, rho_b = r.rho_b;
    // Each worker keeps its records' storage from one surrogate pair to
    // the next; the levels read the surrogate coherence as a ratio to 1.
    const auto make_worker = [&]() -> SurrogateWorker {
      struct Work {
        WorkArena memory;
        RecordBand a{&memory}, b{&memory};
        std::vector<float> xa, xb;
      };
      auto work = std::make_shared<Work>();
      work->xa.resize(a.size());
      work->xb.resize(a.size());
      return [&, work](RandomStream& random, SpecResults& result) {
        ar1_surrogate(rho_a, var_a, random, work->xa);
        ar1_surrogate(rho_b, var_b, random, work->xb);
        if (!record_band(work->xa, plain, tapers, g, &work->memory, work->a) ||
            !record_band(work->xb, plain, tapers, g, &work->memory, work->b))
          return interrupted_run();
        result.nf = g.nf;
        result.specraw0.assign(static_cast<std::size_t>(g.nf), 0.0f);
        result.specback0.assign(static_cast<std::size_t>(g.nf), 1.0f);
        CrossOutput coherence_only;
        coherence_only.coherence = result.specraw0.data();
        cross_spectrum(work->a, work->b, tapers.el, c.adaptive, coherence_only);
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
  } else {
    for (std::size_t j = 0; j < 4; ++j) {
      const double level = 1.0 - std::pow(1.0 - kProbabilities[j], 1.0 / (c.nwin - 1));
      r.levels[j].assign(n, static_cast<float>(level));
    }
  }

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
  out = std::move(r);
  return Status::success();
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

#include "spectral/estimators/even.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <memory_resource>
#include <span>
#include <string>
#include <vector>

#include "common/memory.h"
#include "spectral/numerics/concentrations.h"
#include "spectral/numerics/tapers.h"
#include "spectral/numerics/work_arena.h"
#include "spectral/series.h"
#include "spectral/significance/surrogates.h"
#include "spectral/stages/pipeline.h"

namespace quorvane::spectral {

namespace {

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

// The Monte Carlo levels of a run from the coefficient and variance of its
// series (those of montecarlo_levels); empty for the surrogates' own runs,
// which ask for none.
using EvenLevels = std::function<Status(float rho, float variance, MonteCarloLevels& levels)>;

// One run with the tapers given, or else computed once the run is accepted:
// into keep (for later runs) when there is one, otherwise into the run
// memory. Its work arrays come from memory; its Monte Carlo levels, when
// the settings ask for them, from `levels`.
Status run_spec(std::span<const float> y, const SpecSettings& s, const RunTapers* given,
                RunTapers* keep, WorkArena& memory, SpecResults& out, const MessageSink& sink,
                const EvenLevels& levels) {
  if (Status status = check_spec(s); !status) return status;
  if (given != nullptr && !tapers_fit(*given, s)) {
    return Status::failure("The tapers given were computed for other settings.");
  }
  const std::size_t npts = static_cast<std::size_t>(s.npts);
  if (Status status = check_series(y, npts, SeriesLength::at_least); !status) return status;
  if (Status status = check_memory_for(s, given != nullptr); !status) return status;
  if (run_cancelled(s)) return interrupted_run();
  if (given == nullptr && keep != nullptr) {
    fill_tapers(s, *keep, memory);
    given = keep;
  }
  const Grid g = frequency_grid(s);
  Workspace w(&memory);
  w.xdm.resize(npts);
  demean(y.first(npts), w.xdm);
  run_tapers(s, given, w, &memory);
  if (run_cancelled(s)) return interrupted_run();

  TaperedBand band;
  band.el = w.el;
  band.kept = &memory.kept<RunKept>();
  band.tapsum = w.tapsum;
  if (s.estimate == Estimate::adaptive) band.sig2 = variance_scale(s, sum_of_squares(w.xdm));
  if (!tapered_band(w.xdm, w.v, s, g, band, w.coefficients, &memory)) return interrupted_run();
  band.rho0 = lag1_autocorrelation(w.xdm, s);
  const MonteCarloStage montecarlo = [&](MonteCarloLevels& out_levels) {
    return levels(band.rho0, series_variance(w.xdm, npts), out_levels);
  };
  return finish_spectrum(s, g, band, montecarlo, &memory, out, sink);
}

// The levels of a run of the series itself.
EvenLevels series_levels(const SpecSettings& s) {
  return [&s](float rho, float variance, MonteCarloLevels& levels) {
    return montecarlo_levels(s, rho, variance, s.surrogates, s.seed, s.jobs, levels);
  };
}

}  // namespace

Status spec(std::span<const float> y, const SpecSettings& s, SpecResults& out,
            const MessageSink& sink) {
  WorkArena memory;
  return run_spec(y, s, nullptr, nullptr, memory, out, sink, series_levels(s));
}

Status spec(std::span<const float> y, const SpecSettings& s, const RunTapers& tapers,
            SpecResults& out, const MessageSink& sink) {
  WorkArena memory;
  return run_spec(y, s, &tapers, nullptr, memory, out, sink, series_levels(s));
}

Status spec_tapers(const SpecSettings& s, RunTapers& out) {
  if (Status status = check_spec(s); !status) return status;
  WorkArena memory;
  fill_tapers(s, out, memory);
  return Status::success();
}

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
                  *session.memory_, out, sink, series_levels(s));
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
    const SpecSettings plain = surrogate_settings(s);
    bytes += 4 * n * k + 16 * band + 4 * static_cast<std::uint64_t>(s.surrogates) * band +
             jobs * spec_memory(plain, true);
  }
  return bytes;
}

Status montecarlo_levels(const SpecSettings& settings, float rho, float variance, int surrogates,
                         std::uint64_t seed, int jobs, MonteCarloLevels& out) {
  if (surrogates < 1 || jobs < 1) return surrogate_levels(surrogates, seed, jobs, nullptr, out);
  if (!(std::fabs(rho) < 1.0f) || !(variance >= 0.0f) || !std::isfinite(variance)) {
    return Status::failure("No AR(1) surrogate has coefficient " + std::to_string(rho) +
                           " and variance " + std::to_string(variance) + ".");
  }
  // Every surrogate ratio is kept until the quantiles are taken, as many as
  // the memory holds.
  SpecSettings with_levels = settings;
  with_levels.surrogates = surrogates;
  with_levels.jobs = jobs;
  if (Status status = check_memory(spec_memory(with_levels),
                                   "A Monte Carlo run of " + std::to_string(surrogates) +
                                       " surrogates of " + std::to_string(settings.npts) + " values");
      !status) {
    return status;
  }
  const SpecSettings plain = surrogate_settings(settings);
  // Every surrogate has the series' length, so they all share one set of
  // tapers; each worker keeps its run memory from one surrogate to the next.
  RunTapers tapers;
  if (Status status = spec_tapers(plain, tapers); !status) return status;
  const auto make_worker = [&]() -> SurrogateWorker {
    auto memory = std::make_shared<WorkArena>();
    auto x = std::make_shared<std::vector<float>>(static_cast<std::size_t>(settings.npts));
    return [&plain, &rho, &variance, &tapers, memory, x](RandomStream& random, SpecResults& r) {
      ar1_surrogate(rho, variance, random, *x);
      return run_spec(*x, plain, &tapers, nullptr, *memory, r, {}, {});
    };
  };
  return surrogate_levels(surrogates, seed, jobs, make_worker, out, settings.cancelled);
}

}  // namespace quorvane::spectral

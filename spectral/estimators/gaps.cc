#include "spectral/estimators/gaps.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <memory>
#include <memory_resource>
#include <string>
#include <utility>
#include <vector>

#include "common/memory.h"
#include "spectral/numerics/work_arena.h"
#include "spectral/series.h"
#include "spectral/significance/montecarlo.h"
#include "spectral/significance/persistence.h"
#include "spectral/significance/plan_levels.h"

namespace quorvane::spectral {

namespace {

bool same_geometry(const SpecSettings& a, const SpecSettings& b) {
  return a.npts == b.npts && a.dt == b.dt && a.nwin == b.nwin && a.p == b.p && a.pad == b.pad &&
         a.fmin == b.fmin && a.fmax == b.fmax;
}

// What one run holds beyond the plan, in bytes: the values on the grid, the
// transform's vectors (two threads' at most), the eigencoefficients (and
// their estimate) of the whole band 0 .. Nyquist, of which the raw red-noise
// background of a narrower band takes its level, and the stages' arrays of
// the band.
std::uint64_t run_bytes(const SpecSettings& s, const Grid& g, std::uint64_t present) {
  const std::uint64_t n = static_cast<std::uint64_t>(s.npts);
  const std::uint64_t nfft = static_cast<std::uint64_t>(g.nfft);
  const std::uint64_t band = static_cast<std::uint64_t>(std::max(g.nf, 1));
  const std::uint64_t whole = nfft / 2 + 1;
  const std::uint64_t k = static_cast<std::uint64_t>(s.nwin);
  return 4 * n + 8 * present + 2 * 24 * nfft + 8 * whole * k + 4 * whole + 60 * band;
}

}  // namespace

Status GapsPlan::make(std::span<const std::int64_t> index, const SpecSettings& s, GapsPlan& out) {
  if (Status status = check_spec_settings(s); !status) return status;
  const Grid g = frequency_grid(s);
  if (Status status = check_band(s, g); !status) return status;
  const std::uint64_t present = index.size();
  std::uint64_t bytes = gap_taper_bytes(s.npts, static_cast<std::int64_t>(present), s.nwin, s.p, s.jobs) +
                        run_bytes(s, g, present);
  if (s.surrogates > 0) {
    const std::uint64_t jobs = static_cast<std::uint64_t>(std::max(s.jobs, 1));
    bytes += 4 * static_cast<std::uint64_t>(s.surrogates) * static_cast<std::uint64_t>(g.nf) +
             jobs * (run_bytes(s, g, present) + 4 * present);
  }
  if (Status status = check_memory(bytes, "A spectrum of " + std::to_string(present) +
                                              " values on a grid of " + std::to_string(s.npts));
      !status) {
    return status;
  }
  GapsPlan plan;
  if (run_cancelled(s)) return interrupted_run();
  if (Status status = gap_tapers(index, s.npts, s.nwin, s.p, plan.tapers_, std::pmr::get_default_resource(), s.jobs); !status) return status;
  if (run_cancelled(s)) return interrupted_run();
  plan.index_.assign(index.begin(), index.end());
  plan.time_.resize(index.size());
  for (std::size_t j = 0; j < index.size(); ++j) {
    plan.time_[j] = static_cast<double>(index[j]) * static_cast<double>(s.dt);
  }
  plan.geometry_ = s;
  plan.grid_ = g;
  out = std::move(plan);
  return Status::success();
}

Status GapsPlan::run(std::span<const float> y, const SpecSettings& s, SpecResults& out,
                     const MessageSink& sink, WorkArena* given_memory) const {
  if (index_.empty()) return Status::failure("The missing-data plan has not been made.");
  if (Status status = check_spec_settings(s); !status) return status;
  if (!same_geometry(s, geometry_)) {
    return Status::failure("The missing-data plan was made for other settings.");
  }
  const std::size_t present = index_.size();
  if (Status status = check_series(y, present, SeriesLength::exactly); !status) return status;
  std::unique_ptr<WorkArena> own_memory;
  if (given_memory == nullptr) own_memory = std::make_unique<WorkArena>();
  WorkArena& memory = given_memory != nullptr ? *given_memory : *own_memory;
  const Grid& g = grid_;

  // The samples less their mean, on the full grid with zeros where no
  // sample was taken (which add nothing to the sums of squares).
  const float mean = series_mean(y);
  std::pmr::vector<float> x(static_cast<std::size_t>(s.npts), 0.0f, &memory);
  bool constant = true;
  for (std::size_t j = 0; j < present; ++j) {
    const float value = y[j] - mean;
    x[static_cast<std::size_t>(index_[j])] = value;
    constant = constant && value == 0.0f;
  }

  TaperedBand band;
  band.el = tapers_.el;
  band.kept = &memory.kept<RunKept>();
  band.tapsum = tapers_.tapsum;
  // The tapers' concentrations lie well below 1 (those of tapers that must
  // vanish in the gaps), while each carries a complete taper's energy: the
  // high-resolution weights sum to 1, which keeps the estimate on the
  // complete record's scale (see HiresWeights).
  band.hires_weights = HiresWeights::unit_sum;
  // The adaptive weights compare each eigenspectrum with the variance; the
  // tapers carry the energy of npts positions, so the samples' sum of
  // squares is scaled up to that many.
  if (s.estimate == Estimate::adaptive) {
    band.sig2 = variance_scale(
        s, sum_of_squares(x) * static_cast<double>(s.npts) / static_cast<double>(present));
  }
  double tau = 0.0;
  if (s.noise == Noise::red) {
    if (!constant) {
      if (Status status = persistence_time(time_, y, tau, s.cancelled); !status) return status;
    }
    band.rho0 = coefficient_of(tau, s.dt);
  }
  Eigencoefficients coefficients(&memory);
  if (!tapered_band(x, tapers_.v, s, g, band, coefficients, &memory)) return interrupted_run();

  const MonteCarloStage montecarlo = [&](MonteCarloLevels& levels) {
    const double variance = static_cast<double>(series_variance(x, present));
    return plan_levels_on_times(*this, time_, tau, variance, s, levels);
  };
  return finish_spectrum(s, g, band, montecarlo, &memory, out, sink);
}

Status spec_gaps(std::span<const std::int64_t> index, std::span<const float> y,
                 const SpecSettings& settings, SpecResults& out, const MessageSink& sink) {
  GapsPlan plan;
  if (Status status = GapsPlan::make(index, settings, plan); !status) return status;
  return plan.run(y, settings, out, sink);
}

}  // namespace quorvane::spectral

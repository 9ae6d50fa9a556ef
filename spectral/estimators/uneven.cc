#include "spectral/estimators/uneven.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <memory_resource>
#include <string>
#include <utility>
#include <vector>

#include "common/memory.h"
#include "spectral/numerics/concentrations.h"
#include "spectral/numerics/nufft.h"
#include "spectral/numerics/tapers.h"
#include "spectral/numerics/turns.h"
#include "spectral/numerics/two_halves.h"
#include "spectral/numerics/vector_lanes.h"
#include "spectral/numerics/work_arena.h"
#include "spectral/series.h"
#include "spectral/significance/montecarlo.h"
#include "spectral/significance/persistence.h"
#include "spectral/significance/plan_levels.h"
#include "spectral/stages/eigenspectra.h"
#include "spectral/stages/pipeline.h"

namespace quorvane::spectral {

namespace {

// The regular grid the tapers are computed on has at least this many
// cells, so that even the last of 8 tapers, with some 8 lobes over the span,
// has over 100 cells a lobe and four-point interpolation errors stay near
// 1e-7 of its values (they fall as the fourth power of the cell width).
constexpr int kMinTaperGrid = 1024;
constexpr std::int64_t kMaxBand = 1 << 28;
// Records from this many values on share the tapers' transforms between
// two threads.
constexpr int kTwoThreadValues = 1 << 15;

// A double in the shortest form that reads back as the same value, so that
// neighbouring times in a message are told apart.
template <typename Number>
std::string exact(Number value) {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, value).ptr;
  return std::string(text, end);
}

Status check_times(std::span<const double> time, int npts) {
  if (time.size() != static_cast<std::size_t>(npts)) {
    return Status::failure("The record has " + std::to_string(time.size()) + " times for " +
                           std::to_string(npts) + " values.");
  }
  for (std::size_t j = 0; j < time.size(); ++j) {
    if (!std::isfinite(time[j])) {
      return Status::failure("Time " + std::to_string(j + 1) + " is not a finite number.");
    }
    if (j > 0 && !(time[j] > time[j - 1])) {
      return Status::failure("Time " + std::to_string(j + 1) + " (" + exact(time[j]) +
                             ") does not follow time " + std::to_string(j) + " (" +
                             exact(time[j - 1]) + "); the times must increase.");
    }
  }
  return Status::success();
}

// The grid of a run over span T: spacing 1 / (T pad), the band entries of
// spec's formulas on that spacing, the Rayleigh frequency 1 / T.
Status uneven_grid(const SpecSettings& s, double span, Grid& g) {
  const double df = 1.0 / (span * s.pad);
  const float single_df = static_cast<float>(df);
  if (!(single_df > 0.0f) || !std::isfinite(single_df) || !std::isfinite(span)) {
    return Status::failure("The record's span " + exact(span) +
                           " is too long or too short for a spectrum.");
  }
  if (static_cast<double>(s.fmax) / df > static_cast<double>(kMaxBand)) {
    return Status::failure("The band up to " + exact(s.fmax) + " holds more than " +
                           std::to_string(kMaxBand) + " frequencies at spacing " + exact(df) +
                           "; narrow it or reduce the padding.");
  }
  g = band_grid(s, single_df);
  g.nray = s.pad;
  g.nbw = 2 * s.p * s.pad;
  return Status::success();
}

bool same_geometry(const SpecSettings& a, const SpecSettings& b) {
  return a.npts == b.npts && a.dt == b.dt && a.nwin == b.nwin && a.p == b.p && a.pad == b.pad &&
         a.fmin == b.fmin && a.fmax == b.fmax && a.exact_concentrations == b.exact_concentrations;
}

int taper_grid_cells(int npts) { return std::max(npts, kMinTaperGrid); }

// What a plan and one run hold at once, in bytes, and what the Monte Carlo
// levels add: the surrogates' ratios and the runs of every job.
std::uint64_t uneven_memory(const SpecSettings& s, const Grid& g) {
  const std::uint64_t n = static_cast<std::uint64_t>(s.npts);
  const std::uint64_t k = static_cast<std::uint64_t>(s.nwin);
  const std::uint64_t band = static_cast<std::uint64_t>(std::max(g.nf, 1));
  const std::uint64_t cells = static_cast<std::uint64_t>(taper_grid_cells(s.npts));
  const std::uint64_t grid = 4 * band + 64;  // the transform's grid, at most 4 a frequency
  const std::uint64_t plan = 8 * n + 4 * n * k + 52 * n + 12 * grid + 8 * band;
  const std::uint64_t making = 4 * cells * k + taper_work_bytes(static_cast<int>(cells));
  // (Below two-thread lengths the tapers are transformed side by side.)
  const std::uint64_t sets = n < static_cast<std::uint64_t>(kTwoThreadValues) ? k : 1;
  const std::uint64_t run = 4 * n + 2 * (8 * n + 16 * band + 32 * grid) + 8 * band * k + 60 * band +
                            (sets - 1) * (8 * n + 16 * band + 16 * grid);
  std::uint64_t bytes = plan + std::max(making, run);
  if (s.surrogates > 0) {
    const std::uint64_t jobs = static_cast<std::uint64_t>(std::max(s.jobs, 1));
    bytes += 4 * static_cast<std::uint64_t>(s.surrogates) * band + jobs * (run + 4 * n);
  }
  return bytes;
}

// The four-point Lagrange weights at r of nodes 0, 1, 2, 3.
// (Multiplied by 1/6 rather than divided by 6: a division costs as much as
// the rest of a time's interpolation, and the difference is a rounding.)
void lagrange_weights(double r, double weight[4]) {
  constexpr double kSixth = 1.0 / 6.0;
  weight[0] = -(r - 1.0) * (r - 2.0) * (r - 3.0) * kSixth;
  weight[1] = r * (r - 2.0) * (r - 3.0) * 0.5;
  weight[2] = -r * (r - 1.0) * (r - 3.0) * 0.5;
  weight[3] = r * (r - 1.0) * (r - 2.0) * kSixth;
}


// The spectrum of the unit-variance AR(1) process of persistence time tau
// sampled at the record's times, at each band entry. With the steps D taken
// as independent draws from the record's own steps (a renewal process), the
// covariance of values m steps apart is E exp(-(D_1 + .. + D_m) / tau) = z^m
// per unit variance, where
//   z(f) = mean over the steps of exp((-1 / tau + 2 pi i f) D),
// and the sum over all lags, 1 + 2 Re sum_m z^m, is
//   S(f) = (1 - |z|^2) / |1 - z|^2.
// A regular step dt gives z = rho exp(2 pi i f dt), rho = exp(-dt / tau):
// the AR(1) spectrum of Schulz & Mudelsee (2002), Comput. Geosci. 28:421.
// Uneven steps spread part of the power above half the median step over the
// whole band, which that curve, falling to the end of the band, would
// miss: the false alarms of its levels would rise towards the top of the
// band. z is one non-uniform transform of the steps; tau = 0 gives white
// noise (S = 1). A value that is no usable number is 0.
void red_shape(std::span<const double> time, const NufftPlan& steps, double tau,
               std::span<float> shape) {
  const std::size_t nfv = static_cast<std::size_t>(steps.frequencies());
  std::fill(shape.begin(), shape.begin() + static_cast<std::ptrdiff_t>(nfv), 1.0f);
  if (!(tau > 0.0)) return;
  std::vector<double> weight(steps.points());
  for (std::size_t j = 0; j < weight.size(); ++j) {
    weight[j] = std::exp(-(time[j + 1] - time[j]) / tau) / static_cast<double>(weight.size());
  }
  std::vector<std::complex<double>> z(nfv);
  NufftPlan::Work work;
  steps.transform(weight, z, work);
  for (std::size_t i = 0; i < nfv; ++i) {
    const double level = (1.0 - std::norm(z[i])) / std::norm(1.0 - z[i]);
    shape[i] = std::isfinite(level) && level > 0.0 ? static_cast<float>(level) : 0.0f;
  }
}

}  // namespace

void sampled_tapers(std::span<const float> grid_v, int cells, int nwin,
                    std::span<const double> time, double origin, double half, double span,
                    std::span<float> v, std::span<float> tapsum) {
  const std::size_t npts = time.size();
  // The tapers side by side, four a group: the grid's value of every taper
  // at a cell in one row, so that each time's interpolation runs on all of
  // them at once (the same operations, in the same order, for each taper).
  constexpr std::size_t kGroup = 4;
  using Floats = Vector<float, kGroup>;
  using Doubles = Vector<double, kGroup>;
  const std::size_t groups = (static_cast<std::size_t>(nwin) + kGroup - 1) / kGroup;
  const std::size_t row = groups * kGroup;
  std::vector<float> across(static_cast<std::size_t>(cells) * row, 0.0f);
  for (std::size_t k = 0; k < static_cast<std::size_t>(nwin); ++k) {
    for (std::size_t c = 0; c < static_cast<std::size_t>(cells); ++c) {
      across[c * row + k] = grid_v[k * static_cast<std::size_t>(cells) + c];
    }
  }
  // Each time's place on the grid, in cells; four-point Lagrange
  // interpolation there (extrapolation by less than half a cell at the
  // span's ends, where the grid's outer centres may lie inside it). A
  // place within 1e-9 cells of a centre takes the centre's value as it is.
  std::vector<Doubles> sum_of_squares(groups, Doubles{});
  const double per_time = cells / span;
  double lanes[kGroup];
  for (std::size_t j = 0; j < npts; ++j) {
    // Times lie within the span, so places lie within [-1, cells].
    double place = (time[j] - origin + half) * per_time - 0.5;
    const double nearest = whole_floor(place + 0.5);
    if (std::fabs(place - nearest) < 1e-9) place = nearest;
    const int base = std::clamp(static_cast<int>(whole_floor(place)) - 1, 0, cells - 4);
    double weight[4];
    lagrange_weights(place - base, weight);
    const float* node = across.data() + static_cast<std::size_t>(base) * row;
    for (std::size_t g = 0; g < groups; ++g) {
      Floats n[4];
      for (std::size_t c = 0; c < 4; ++c) std::memcpy(&n[c], node + c * row + g * kGroup, sizeof n[c]);
      // The four terms in order, as a loop from 0.0 would add them.
      Doubles value = weight[0] * __builtin_convertvector(n[0], Doubles);
      value += weight[1] * __builtin_convertvector(n[1], Doubles);
      value += weight[2] * __builtin_convertvector(n[2], Doubles);
      value += weight[3] * __builtin_convertvector(n[3], Doubles);
      sum_of_squares[g] += value * value;
      std::memcpy(lanes, &value, sizeof lanes);
      const std::size_t last = std::min<std::size_t>(kGroup, static_cast<std::size_t>(nwin) - g * kGroup);
      for (std::size_t l = 0; l < last; ++l) v[(g * kGroup + l) * npts + j] = static_cast<float>(lanes[l]);
    }
  }
  std::vector<double> scale(static_cast<std::size_t>(nwin)), total(static_cast<std::size_t>(nwin), 0.0);
  for (std::size_t k = 0; k < static_cast<std::size_t>(nwin); ++k) {
    std::memcpy(lanes, &sum_of_squares[k / kGroup], sizeof lanes);
    scale[k] = std::sqrt(static_cast<double>(npts) / lanes[k % kGroup]);
  }
  // The tapers' sums side by side, each still in the order of its times.
  for (std::size_t j = 0; j < npts; ++j) {
    for (std::size_t k = 0; k < static_cast<std::size_t>(nwin); ++k) {
      float& value = v[k * npts + j];
      value = static_cast<float>(value * scale[k]);
      total[k] += value;
    }
  }
  for (std::size_t k = 0; k < static_cast<std::size_t>(nwin); ++k) tapsum[k] = static_cast<float>(total[k]);
}

struct UnevenPlan::Prepared {
  SpecSettings geometry;
  Grid grid;
  std::vector<float> v;  // taper k at the times, v[k * npts + j]
  std::vector<double> el;
  std::vector<float> tapsum;
  NufftPlan transform;
  // The record's steps as points, for the red-noise spectrum on its times.
  NufftPlan steps;
};

UnevenPlan::UnevenPlan() = default;
UnevenPlan::~UnevenPlan() = default;
UnevenPlan::UnevenPlan(UnevenPlan&&) noexcept = default;
UnevenPlan& UnevenPlan::operator=(UnevenPlan&&) noexcept = default;

void grid_tapers(int cells, const SpecSettings& s, GridTapers& out) {
  const std::size_t nwin = static_cast<std::size_t>(s.nwin);
  WorkArena memory;
  std::pmr::vector<float> grid_v(static_cast<std::size_t>(cells) * nwin, &memory);
  std::vector<float> grid_sum(nwin);
  std::vector<double> dlam(nwin);
  out.el.resize(nwin);
  compute_tapers(cells, s.nwin, static_cast<float>(s.p), grid_v, out.el, grid_sum, dlam,
                 EigenPath::Fast, &memory);
  if (s.exact_concentrations)
    taper_concentrations(cells, s.nwin, static_cast<float>(s.p), grid_v, out.el);
  out.v.assign(grid_v.begin(), grid_v.end());
  out.cells = cells;
  out.nwin = s.nwin;
  out.p = static_cast<float>(s.p);
  out.exact = s.exact_concentrations;
}

Status UnevenPlan::make(std::span<const double> time, const SpecSettings& s, UnevenPlan& out,
                        std::optional<double> grid_span, const GridTapers* given,
                        const UnevenPlan* like) {
  if (Status status = check_spec_settings(s); !status) return status;
  if (Status status = check_times(time, s.npts); !status) return status;
  const double dt = static_cast<double>(s.dt);
  const double span = time.back() - time.front() + dt;
  const double frequency_span = grid_span.value_or(span);
  auto prepared = std::make_unique<Prepared>();
  Grid& g = prepared->grid;
  if (Status status = uneven_grid(s, frequency_span, g); !status) return status;
  if (frequency_span != span) {
    const double ratio = frequency_span / span;
    g.nray = std::max(1, static_cast<int>(std::lround(s.pad * ratio)));
    g.nbw = std::max(1, static_cast<int>(std::lround(2.0 * s.p * s.pad * ratio)));
  }
  if (Status status = check_band(s, g); !status) return status;
  if (Status status = check_memory(uneven_memory(s, g), "A spectrum of " +
                                                            std::to_string(s.npts) + " values");
      !status) {
    return status;
  }
  prepared->geometry = s;

  // The Slepian tapers of the span: M cells of width T / M, the cell
  // centres t0 - dt/2 + (c + 1/2) T / M (the samples themselves when the
  // record is evenly spaced and M = N).
  const std::size_t nwin = static_cast<std::size_t>(s.nwin);
  const std::size_t npts = static_cast<std::size_t>(s.npts);
  GridTapers own;
  const bool fits = given != nullptr && given->nwin == s.nwin &&
                    given->p == static_cast<float>(s.p) && given->exact == s.exact_concentrations;
  if (!fits) grid_tapers(taper_grid_cells(s.npts), s, own);
  const GridTapers& tapers = fits ? *given : own;
  if (run_cancelled(s)) return interrupted_run();
  prepared->el = tapers.el;
  prepared->v.resize(npts * nwin);
  prepared->tapsum.assign(nwin, 0.0f);
  sampled_tapers(tapers.v, tapers.cells, s.nwin, time, time.front(), dt / 2.0, span, prepared->v,
                 prepared->tapsum);
  if (run_cancelled(s)) return interrupted_run();
  const double df = 1.0 / (frequency_span * s.pad);
  const NufftPlan* shared = like != nullptr && like->prepared_ ? &like->prepared_->transform : nullptr;
  if (Status status = NufftPlan::make(time, time.front(), g.i0 * df, df, g.nfv,
                                      prepared->transform, s.cancelled, shared);
      !status) {
    return status;
  }
  if (run_cancelled(s)) return interrupted_run();
  std::vector<double> step(npts - 1);
  for (std::size_t j = 1; j < npts; ++j) step[j - 1] = time[j] - time[j - 1];
  if (Status status = NufftPlan::make(step, 0.0, g.i0 * df, df, g.nfv, prepared->steps,
                                      s.cancelled, &prepared->transform);
      !status) {
    return status;
  }
  UnevenPlan plan;
  plan.time_.assign(time.begin(), time.end());
  plan.prepared_ = std::move(prepared);
  out = std::move(plan);
  return Status::success();
}

Status UnevenPlan::run(std::span<const float> y, const SpecSettings& s, SpecResults& out,
                       const MessageSink& sink, WorkArena* given_memory) const {
  if (!prepared_) return Status::failure("The uneven-record plan has not been made.");
  const Prepared& p = *prepared_;
  if (Status status = check_spec_settings(s); !status) return status;
  if (!same_geometry(s, p.geometry)) {
    return Status::failure("The uneven-record plan was made for other settings.");
  }
  const std::size_t npts = static_cast<std::size_t>(s.npts);
  if (Status status = check_series(y, npts, SeriesLength::exactly); !status) return status;
  std::unique_ptr<WorkArena> own_memory;
  if (given_memory == nullptr) own_memory = std::make_unique<WorkArena>();
  WorkArena& memory = given_memory != nullptr ? *given_memory : *own_memory;
  const Grid& g = p.grid;

  std::pmr::vector<float> xdm(npts, &memory);
  demean(y, xdm);
  const double norm = band_normalisation(s);
  Eigencoefficients coefficients(&memory);
  coefficients.resize(g.nfv, s.nwin);
  const auto transform_tapers = [&](int first, int last) {
    if (run_cancelled(s)) return;
    NufftPlan::Work work;
    const std::size_t sets = static_cast<std::size_t>(last - first);
    const std::size_t nfv = static_cast<std::size_t>(g.nfv);
    std::vector<double> strength(sets * npts);
    std::vector<std::complex<double>> transform(sets * nfv);
    for (std::size_t set = 0; set < sets; ++set) {
      const float* v = p.v.data() + (static_cast<std::size_t>(first) + set) * npts;
      for (std::size_t j = 0; j < npts; ++j)
        strength[set * npts + j] = static_cast<double>(v[j] * xdm[j]);
    }
    p.transform.transform_sets(strength, sets, transform, work, s.cancelled);
    // Multiplied by 1 / norm: two divisions a coefficient cost as much as
    // the rest of this loop, for a difference of one rounding.
    const double inverse = 1.0 / norm;
    for (std::size_t set = 0; set < sets; ++set) {
      const int k = first + static_cast<int>(set);
      for (int i = 0; i < g.nfv; ++i) {
        const std::complex<double> value = transform[set * nfv + static_cast<std::size_t>(i)];
        coefficients.yr[coefficients.at(i, k)] = static_cast<float>(value.real() * inverse);
        coefficients.yi[coefficients.at(i, k)] = static_cast<float>(value.imag() * inverse);
      }
    }
  };
  // The tapers' transforms side by side, as one set each, where their
  // grids are small; a long record's one at a time.
  const auto tapers = [&](int first, int last) {
    if (s.npts >= kTwoThreadValues) {
      for (int k = first; k < last; ++k) transform_tapers(k, k + 1);
    } else {
      transform_tapers(first, last);
    }
  };
  if (s.npts >= kTwoThreadValues && s.nwin >= 2) {
    run_two_halves([&] { tapers(0, s.nwin / 2); }, [&] { tapers(s.nwin / 2, s.nwin); });
  } else {
    tapers(0, s.nwin);
  }
  if (run_cancelled(s)) return interrupted_run();

  TaperedBand band;
  band.coefficients = &coefficients;
  band.kept = &memory.kept<RunKept>();
  band.el = p.el;
  band.tapsum = p.tapsum;
  if (s.estimate == Estimate::adaptive) band.sig2 = variance_scale(s, sum_of_squares(xdm));
  // The red-noise coefficient at the median step is fitted to the running
  // median of the spectrum, in the family of AR(1) spectra on the record's
  // times, as the evenly spaced engine fits its curve: a cycle in the values
  // lengthens the persistence time taken from them in the time domain,
  // which would tilt the background under the whole band, while the median
  // passes over the cycle's line. That persistence (rho0) starts the fit
  // and stands in where it finds none; a constant series has none. The
  // raw background and the surrogates follow the fitted coefficient.
  double tau = 0.0;
  std::pmr::vector<float> red(&memory);
  SampledFitWork fit_work{std::pmr::vector<float>(&memory), std::pmr::vector<float>(&memory)};
  if (s.noise == Noise::red) {
    const bool constant = std::all_of(xdm.begin(), xdm.end(), [](float x) { return x == 0.0f; });
    double start_tau = 0.0;
    if (!constant) {
      if (Status status = persistence_time(time_, y, start_tau, s.cancelled); !status) return status;
    }
    const float start = coefficient_of(start_tau, s.dt);
    band.rho0 = start;
    const SampledRedShape shape = [&](float rho, std::span<float> out) {
      red_shape(time_, p.steps, persistence_of(rho, s.dt), out);
    };
    const float rho =
        constant ? start : sampled_red_fit(s, g, band, start, shape, &memory, &fit_work);
    band.estimate = fit_work.estimate;
    band.median = fit_work.median;
    band.fixed_rho = rho;
    tau = persistence_of(rho, s.dt);
    // The level of that shape is the band's mean, whatever the band: the
    // non-uniform transforms cover the band's
    // frequencies only, and a level over everything up to half the median
    // step would cost the transforms of all of them, where a narrow band of a
    // long record is what this estimator keeps cheap. Nor does that
    // frequency close the spectrum of uneven steps, whose power reaches above it.
    red.resize(static_cast<std::size_t>(g.nfv));
    red_shape(time_, p.steps, tau, red);
    band.red_shape = red;
  }
  if (run_cancelled(s)) return interrupted_run();

  const MonteCarloStage montecarlo = [&](MonteCarloLevels& levels) {
    if (Status status = check_memory(uneven_memory(s, g),
                                     "A Monte Carlo run of " + std::to_string(s.surrogates) +
                                         " surrogates of " + std::to_string(s.npts) + " values");
        !status) {
      return status;
    }
    const double variance = static_cast<double>(series_variance(xdm, npts));
    return plan_levels_on_times(*this, time_, tau, variance, s, levels);
  };
  return finish_spectrum(s, g, band, montecarlo, &memory, out, sink);
}

Status spec_uneven(std::span<const double> time, std::span<const float> y,
                   const SpecSettings& settings, SpecResults& out, const MessageSink& sink) {
  UnevenPlan plan;
  if (Status status = UnevenPlan::make(time, settings, plan); !status) return status;
  return plan.run(y, settings, out, sink);
}

}  // namespace quorvane::spectral

#include "api/ensemble.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "api/analysis.h"
#include "spectral/analyses/ensemble.h"
#include "spectral/sampling.h"

namespace quorvane::api {

namespace {

bool increasing(std::span<const double> t) {
  for (std::size_t j = 0; j < t.size(); ++j)
    if (!std::isfinite(t[j]) || (j > 0 && !(t[j] > t[j - 1]))) return false;
  return true;
}

}  // namespace

Status counted_model(std::span<const double> counted, double missed, double doubled,
                     std::size_t members, std::uint64_t seed, AgeModel& out) {
  spectral::AgeEnsemble e;
  if (Status s = spectral::counted_ages(counted, missed, doubled, members, seed, e); !s)
    return s;
  out = AgeModel{e.members, e.samples, std::move(e.ages),
                 fmt::format("counted, missed layers {}, doubled layers {}, {} members, seed {}",
                             missed, doubled, members, seed),
                 seed};
  return Status::success();
}

Status tiepoint_model(std::span<const double> depth, std::span<const double> tie_depth,
                      std::span<const double> tie_age, std::span<const double> tie_sigma,
                      std::size_t members, std::uint64_t seed, AgeModel& out) {
  spectral::AgeEnsemble e;
  if (Status s = spectral::tiepoint_ages(depth, tie_depth, tie_age, tie_sigma, members, seed, e);
      !s)
    return s;
  out = AgeModel{e.members, e.samples, std::move(e.ages),
                 fmt::format("{} tie points, sorted Gaussian draws, linear interpolation, {} "
                             "members, seed {}",
                             tie_depth.size(), members, seed),
                 seed};
  return Status::success();
}

Status run_ensemble(const std::string& name, std::span<const float> values, const AgeModel& ages,
                    const AnalysisOptions& a, const SignificanceOptions& g, Naming naming,
                    const EnsembleRequest& request, Ensemble& out, AnalysisRecord& record) {
  if (values.size() != ages.samples || ages.ages.size() != ages.members * ages.samples) {
    return Status::failure(fmt::format("the record has {} values for the {} samples of the age model",
                                       values.size(), ages.samples));
  }
  if (g.montecarlo || g.jackknife) {
    return Status::failure(
        "ensemble spectra take neither Monte Carlo levels nor the jackknife (every member "
        "would need its own)");
  }
  spectral::AgeEnsemble ensemble{ages.members, ages.samples, ages.ages};
  // The first member that can be a chronology gives the record its
  // settings; the coarsest median step of all of them bounds the band.
  std::size_t first = ages.members;
  double coarsest = 0.0;
  for (std::size_t m = 0; m < ages.members; ++m) {
    const auto t = ensemble.member(m);
    if (!increasing(t)) continue;
    spectral::Sampling sampling;
    if (Status status = spectral::sampling_of(t, sampling); !status) return status;
    coarsest = std::max(coarsest, sampling.median_step);
    if (first == ages.members) first = m;
  }
  if (first == ages.members) {
    return Status::failure(fmt::format("none of the {} members has strictly increasing ages",
                                       ages.members));
  }
  input::ChosenSeries chosen;
  const auto t = ensemble.member(first);
  if (Status status = input::prepare_series(name, std::vector<float>(values.begin(), values.end()),
                                            std::vector<double>(t.begin(), t.end()), chosen);
      !status)
    return status;
  AnalysisRecord r;
  if (Status status = load_series(r, std::move(chosen), SamplingChoice::uneven, {}); !status)
    return status;
  set_defaults(r);
  r.fmin = 0.0f;
  r.fmax = 0.5f / static_cast<float>(coarsest);
  apply_band(r);
  if (Status applied = apply_options(a, r, naming); !applied) return applied;

  spectral::SpecSettings settings = spec_settings(r);
  static_cast<spectral::SpecRefinements&>(settings) = run_refinements(g).engine;
  settings.cancelled = request.cancelled;
  spectral::EnsembleOptions options;
  options.agreement = request.agreement;
  options.keep_members = request.members;
  options.jobs = request.jobs;
  options.band_given = true;
  spectral::EnsembleResult result;
  if (Status status = spectral::ensemble_spectrum(ensemble, values, settings, options, result);
      !status)
    return status;

  Ensemble e;
  e.name = name;
  const std::size_t m = result.entries;
  e.frequency.resize(m);
  for (std::size_t i = 0; i < m; ++i) e.frequency[i] = result.f0 + static_cast<float>(i) * result.df;
  e.q025 = std::move(result.quantiles[0]);
  e.q25 = std::move(result.quantiles[1]);
  e.median = std::move(result.quantiles[2]);
  e.q75 = std::move(result.quantiles[3]);
  e.q975 = std::move(result.quantiles[4]);
  e.background = std::move(result.background);
  e.exceed90 = std::move(result.exceed[0]);
  e.exceed95 = std::move(result.exceed[1]);
  e.exceed99 = std::move(result.exceed[2]);
  e.f95 = std::move(result.f_exceed[0]);
  e.f99 = std::move(result.f_exceed[1]);
  for (const spectral::EnsembleLine& line : result.lines) {
    e.lines.push_back({line.frequency, 1.0f / line.frequency, line.lower, line.upper, line.spread,
                       static_cast<int>(line.members), line.fraction});
  }
  e.members = static_cast<int>(result.members);
  e.refused = static_cast<int>(result.refused);
  for (std::size_t k : result.analysed) e.member.push_back(static_cast<int>(k + 1));
  e.member_power = std::move(result.member_estimate);
  e.member_background = std::move(result.member_background);
  e.member_F = std::move(result.member_f);
  e.span = result.span;
  e.dt = result.dt;
  e.bandwidth = static_cast<float>(2.0 * r.p / result.span);
  e.lines_level = level_percent(std::clamp(r.isiglev, 1, 6));
  if (result.refused > 0) {
    e.notes.push_back(fmt::format(
        "{} of {} members left out: their ages do not strictly increase (the first is member {})",
        result.refused, ages.members, result.first_refused + 1));
  }
  for (auto& note : result.notes) e.notes.push_back(note_text(note));
  out = std::move(e);
  record = std::move(r);
  return Status::success();
}

}  // namespace quorvane::api

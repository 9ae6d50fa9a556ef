#include "spectral/analyses/ensemble.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <exception>
#include <limits>
#include <mutex>
#include <system_error>
#include <thread>

#include "spectral/analyses/evolutive.h"
#include "spectral/estimators/uneven.h"
#include "spectral/numerics/work_arena.h"
#include "spectral/sampling.h"
#include "spectral/significance/surrogates.h"

namespace quorvane::spectral {

namespace {

bool strictly_increasing(std::span<const double> t) {
  for (std::size_t j = 0; j < t.size(); ++j) {
    if (!std::isfinite(t[j])) return false;
    if (j > 0 && !(t[j] > t[j - 1])) return false;
  }
  return true;
}

bool probability(double p) { return p >= 0.0 && p <= 1.0; }

// The quantile q of sorted values, by linear interpolation between the
// order statistics at (n - 1) q (the definition most peers share).
float quantile(std::span<const float> sorted, double q) {
  const double h = static_cast<double>(sorted.size() - 1) * q;
  const auto low = static_cast<std::size_t>(std::floor(h));
  if (low + 1 >= sorted.size()) return sorted.back();
  const double a = sorted[low], b = sorted[low + 1];
  return static_cast<float>(a + (h - static_cast<double>(low)) * (b - a));
}

// What one member leaves for the summary: its estimate, background and F
// statistic on the band, its levels and its F-test maxima.
struct MemberRun {
  std::vector<float> estimate, background, f;
  std::array<float, 4> conf{};
  std::array<float, 6> fconf{};
  std::vector<int> lines;  // band entries of the F-test maxima
  std::vector<std::string> notes;
};

Status run_member(std::span<const double> time, std::span<const float> y, SpecSettings settings,
                  double span, std::size_t entries, WorkArena& memory, MemberRun& out) {
  Sampling sampling;
  if (Status status = sampling_of(time, sampling); !status) return status;
  settings.dt = static_cast<float>(sampling.median_step);
  settings.npts = static_cast<int>(time.size());
  UnevenPlan plan;
  if (Status status = UnevenPlan::make(time, settings, plan, span); !status) return status;
  SpecResults r;
  out.notes.clear();
  if (Status status = plan.run(y.first(time.size()), settings, r,
                               [&out](std::string_view line) { out.notes.emplace_back(line); },
                               &memory);
      !status) {
    return status;
  }
  if (static_cast<std::size_t>(std::max(r.nf - 1, 0)) != entries) {
    return Status::failure("The member's band holds " + std::to_string(r.nf - 1) +
                           " frequencies, not the ensemble's " + std::to_string(entries) + ".");
  }
  out.estimate.assign(r.specraw0.begin(), r.specraw0.begin() + static_cast<long>(entries));
  out.background.assign(r.specback0.begin(), r.specback0.begin() + static_cast<long>(entries));
  out.f.assign(r.ftest.begin(), r.ftest.begin() + static_cast<long>(entries));
  out.conf = r.conf;
  out.fconf = r.fconf;
  // The member's lines: the maxima that are the largest within half a
  // bandwidth, so that the F-test's side lobes around a strong line (at
  // about that distance) and the neighbouring maxima of a padded grid do
  // not count as lines of their own.
  const std::vector<EvolutiveLine> maxima = f_test_maxima(settings, r);
  const int half = std::max(r.nbw / 2, 1);
  out.lines.clear();
  for (const EvolutiveLine& line : maxima) {
    const bool largest = std::none_of(maxima.begin(), maxima.end(), [&](const EvolutiveLine& o) {
      return std::abs(o.entry - line.entry) <= half &&
             (o.f > line.f || (o.f == line.f && o.entry < line.entry));
    });
    if (largest) out.lines.push_back(line.entry);
  }
  return Status::success();
}

// Gathers the members' F-test maxima into lines: repeatedly the entry
// around which (within `reach` entries) most members have a maximum not yet
// taken, while they are at least `needed`; each of those members gives it
// the frequency of its maximum nearest that entry (the lower on a tie), and
// every maximum it has that near is taken.
std::vector<EnsembleLine> gather_lines(std::vector<std::vector<int>> lines, std::size_t entries,
                                       int reach, std::size_t needed, float f0, float df) {
  std::vector<EnsembleLine> found;
  const std::size_t members = lines.size();
  std::vector<std::size_t> count(entries);
  while (true) {
    std::fill(count.begin(), count.end(), 0);
    for (const auto& member : lines) {
      // Each member counts once at an entry, however many maxima lie near it.
      std::vector<char> near(entries, 0);
      for (int e : member) {
        const int first = std::max(e - reach, 0);
        const int last = std::min(e + reach, static_cast<int>(entries) - 1);
        for (int i = first; i <= last; ++i) near[static_cast<std::size_t>(i)] = 1;
      }
      for (std::size_t i = 0; i < entries; ++i) count[i] += static_cast<std::size_t>(near[i]);
    }
    const auto best = std::max_element(count.begin(), count.end());
    if (best == count.end() || *best < needed || *best == 0) break;
    const int centre = static_cast<int>(best - count.begin());
    std::vector<float> frequency;
    for (auto& member : lines) {
      auto nearest = member.end();
      for (auto it = member.begin(); it != member.end(); ++it) {
        const int distance = std::abs(*it - centre);
        if (distance > reach) continue;
        if (nearest == member.end() || distance < std::abs(*nearest - centre) ||
            (distance == std::abs(*nearest - centre) && *it < *nearest))
          nearest = it;
      }
      if (nearest == member.end()) continue;
      frequency.push_back(f0 + static_cast<float>(*nearest) * df);
      // Its other maxima that near belong to the same line (a padded grid
      // shows one line as neighbouring maxima).
      std::erase_if(member, [&](int e) { return std::abs(e - centre) <= reach; });
    }
    std::sort(frequency.begin(), frequency.end());
    EnsembleLine line;
    line.frequency = quantile(frequency, 0.5);
    line.lower = quantile(frequency, 0.025);
    line.upper = quantile(frequency, 0.975);
    double mean = 0.0;
    for (float f : frequency) mean += f;
    mean /= static_cast<double>(frequency.size());
    double squares = 0.0;
    for (float f : frequency) squares += (f - mean) * (f - mean);
    line.spread = static_cast<float>(std::sqrt(squares / static_cast<double>(frequency.size())));
    line.members = frequency.size();
    line.fraction = static_cast<float>(static_cast<double>(line.members) /
                                       static_cast<double>(members));
    found.push_back(line);
  }
  std::sort(found.begin(), found.end(),
            [](const EnsembleLine& a, const EnsembleLine& b) { return a.frequency < b.frequency; });
  return found;
}

}  // namespace

Status counted_ages(std::span<const double> counted, double missed, double doubled,
                    std::size_t members, std::uint64_t seed, AgeEnsemble& out) {
  if (counted.size() < 2 || members == 0) {
    return Status::failure("A counted age model needs at least 2 samples and one member.");
  }
  if (!strictly_increasing(counted)) {
    return Status::failure("The counted ages must be finite and strictly increasing.");
  }
  if (!probability(missed) || !probability(doubled)) {
    return Status::failure("The probabilities of a missed and a doubled layer must lie in 0..1.");
  }
  AgeEnsemble e;
  e.members = members;
  e.samples = counted.size();
  e.ages.resize(members * e.samples);
  for (std::size_t m = 0; m < members; ++m) {
    RandomStream random(seed, m);
    double* age = e.ages.data() + m * e.samples;
    double error = 0.0;
    age[0] = counted[0];
    for (std::size_t j = 1; j < e.samples; ++j) {
      if (random.uniform() < missed) error += 1.0;
      if (random.uniform() < doubled) error -= 1.0;
      age[j] = counted[j] + error;
    }
  }
  out = std::move(e);
  return Status::success();
}

Status tiepoint_ages(std::span<const double> depth, std::span<const double> tie_depth,
                     std::span<const double> tie_age, std::span<const double> tie_sigma,
                     std::size_t members, std::uint64_t seed, AgeEnsemble& out) {
  const std::size_t n = tie_depth.size();
  if (n < 2 || tie_age.size() != n || tie_sigma.size() != n) {
    return Status::failure("A tie-point age model needs at least 2 tie points, each with a "
                           "depth, an age and its error.");
  }
  if (!strictly_increasing(tie_depth)) {
    return Status::failure("The tie points' depths must be finite and strictly increasing.");
  }
  for (std::size_t i = 0; i < n; ++i) {
    if (!std::isfinite(tie_age[i]) || !std::isfinite(tie_sigma[i]) || tie_sigma[i] < 0.0) {
      return Status::failure("Tie point " + std::to_string(i + 1) +
                             " needs a finite age and a finite error of at least 0.");
    }
  }
  if (depth.empty() || members == 0) {
    return Status::failure("A tie-point age model needs at least one sample and one member.");
  }
  for (std::size_t j = 0; j < depth.size(); ++j) {
    if (!std::isfinite(depth[j])) {
      return Status::failure("Depth " + std::to_string(j + 1) + " is not a finite number.");
    }
  }
  AgeEnsemble e;
  e.members = members;
  e.samples = depth.size();
  e.ages.resize(members * e.samples);
  std::vector<double> drawn(n);
  for (std::size_t m = 0; m < members; ++m) {
    RandomStream random(seed, m);
    for (std::size_t i = 0; i < n; ++i) drawn[i] = tie_age[i] + tie_sigma[i] * random.normal();
    std::sort(drawn.begin(), drawn.end());
    double* age = e.ages.data() + m * e.samples;
    for (std::size_t j = 0; j < e.samples; ++j) {
      // The segment of the depth: the last one whose start lies at or above
      // it, the first one above the first tie point.
      const auto above = std::upper_bound(tie_depth.begin(), tie_depth.end(), depth[j]);
      std::size_t i = static_cast<std::size_t>(above - tie_depth.begin());
      i = std::clamp<std::size_t>(i, 1, n - 1);
      const double w = (depth[j] - tie_depth[i - 1]) / (tie_depth[i] - tie_depth[i - 1]);
      age[j] = drawn[i - 1] + w * (drawn[i] - drawn[i - 1]);
    }
  }
  out = std::move(e);
  return Status::success();
}

double shared_span(const AgeEnsemble& ages, std::span<const std::size_t> members, double dt) {
  double first = -std::numeric_limits<double>::infinity();
  double last = std::numeric_limits<double>::infinity();
  for (std::size_t m : members) {
    const auto t = ages.member(m);
    first = std::max(first, t.front());
    last = std::min(last, t.back());
  }
  return last - first + dt;
}

Status ensemble_spectrum(const AgeEnsemble& ages, std::span<const float> y,
                         const SpecSettings& given, const EnsembleOptions& options,
                         EnsembleResult& out) {
  if (options.jobs < 1) {
    return Status::failure("The number of jobs must be positive (it is " +
                           std::to_string(options.jobs) + ").");
  }
  if (!(options.agreement > 0.0 && options.agreement <= 1.0)) {
    return Status::failure("The agreement must lie above 0 and at most 1.");
  }
  if (given.surrogates > 0 || given.jackknife) {
    return Status::failure("Ensemble spectra take neither Monte Carlo levels nor the jackknife.");
  }
  if (ages.samples < 2 || ages.ages.size() != ages.members * ages.samples) {
    return Status::failure("The age ensemble needs at least 2 samples in every member.");
  }
  if (y.size() < ages.samples) {
    return Status::failure("The record has " + std::to_string(y.size()) + " values for " +
                           std::to_string(ages.samples) + " samples.");
  }
  EnsembleResult result;
  double coarsest = 0.0;
  for (std::size_t m = 0; m < ages.members; ++m) {
    if (!strictly_increasing(ages.member(m))) {
      if (result.refused++ == 0) result.first_refused = m;
      continue;
    }
    Sampling sampling;
    if (Status status = sampling_of(ages.member(m), sampling); !status) return status;
    coarsest = std::max(coarsest, sampling.median_step);
    result.analysed.push_back(m);
  }
  if (result.analysed.empty()) {
    return Status::failure("None of the " + std::to_string(ages.members) +
                           " members has strictly increasing ages.");
  }
  const std::size_t members = result.analysed.size();
  result.members = members;
  result.dt = static_cast<float>(coarsest);
  result.span = shared_span(ages, result.analysed, static_cast<double>(result.dt));
  if (!(result.span > 0.0)) {
    return Status::failure("The members' chronologies share no span of time.");
  }
  SpecSettings settings = given;
  if (!options.band_given) {
    settings.fmin = 0.0f;
    settings.fmax = 0.5f / result.dt;
  }
  settings.jobs = 1;
  result.fmin = settings.fmin;
  result.fmax = settings.fmax;

  // The grid every member shares, and a check of the settings on it.
  {
    SpecSettings first = settings;
    first.dt = result.dt;
    first.npts = static_cast<int>(ages.samples);
    if (Status status = check_spec_settings(first); !status) return status;
    const float df = static_cast<float>(1.0 / (result.span * settings.pad));
    const Grid grid = band_grid(first, df);
    if (Status status = check_band(first, grid); !status) return status;
    result.f0 = grid.f0;
    result.df = df;
    result.entries = static_cast<std::size_t>(std::max(grid.nfv, 0));
    result.nbw = 2 * settings.p * settings.pad;
  }
  const std::size_t entries = result.entries;

  // Every member's run into its own slot; the threads take members in turn.
  std::vector<MemberRun> runs(members);
  std::vector<Status> failures(members, Status::success());
  std::atomic<std::size_t> next{0};
  std::atomic<bool> stop{false};
  const auto work = [&] {
    WorkArena memory;
    while (!stop) {
      const std::size_t k = next++;
      if (k >= members) break;
      Status status = Status::success();
      try {
        status = run_member(ages.member(result.analysed[k]), y, settings, result.span, entries,
                            memory, runs[k]);
      } catch (const std::exception& error) {
        status = Status::failure(std::string("") + error.what());
      }
      if (!status) {
        failures[k] = std::move(status);
        stop = true;
      }
    }
  };
  const std::size_t threads = std::min(static_cast<std::size_t>(options.jobs), members);
  std::vector<std::thread> helpers;
  for (std::size_t t = 1; t < threads; ++t) {
    try {
      helpers.emplace_back(work);
    } catch (const std::system_error&) {
      break;  // fewer threads share the members
    }
  }
  work();
  for (auto& helper : helpers) helper.join();
  if (run_cancelled(settings)) return interrupted_run();
  for (std::size_t k = 0; k < members; ++k) {
    if (!failures[k]) {
      const std::string& message = failures[k].message;
      return Status::failure("Member " + std::to_string(result.analysed[k] + 1) + ":" +
                             (message.empty() || message.front() == ' ' ? "" : " ") + message);
    }
  }

  // The summaries per entry, over the members in their order.
  for (auto& q : result.quantiles) q.resize(entries);
  result.background.resize(entries);
  for (auto& e : result.exceed) e.resize(entries);
  for (auto& e : result.f_exceed) e.resize(entries);
  const double share = 1.0 / static_cast<double>(members);
  std::vector<float> column(members);
  for (std::size_t i = 0; i < entries; ++i) {
    std::array<std::size_t, 3> above{};
    std::array<std::size_t, 2> f_above{};
    for (std::size_t k = 0; k < members; ++k) {
      const MemberRun& r = runs[k];
      column[k] = r.estimate[i];
      for (std::size_t l = 0; l < 3; ++l)
        above[l] += r.estimate[i] > r.background[i] * r.conf[l + 1] ? 1 : 0;
      for (std::size_t l = 0; l < 2; ++l) f_above[l] += r.f[i] > r.fconf[l + 2] ? 1 : 0;
    }
    std::sort(column.begin(), column.end());
    for (std::size_t q = 0; q < kEnsembleQuantiles.size(); ++q)
      result.quantiles[q][i] = quantile(column, kEnsembleQuantiles[q]);
    for (std::size_t k = 0; k < members; ++k) column[k] = runs[k].background[i];
    std::sort(column.begin(), column.end());
    result.background[i] = quantile(column, 0.5);
    for (std::size_t l = 0; l < 3; ++l)
      result.exceed[l][i] = static_cast<float>(static_cast<double>(above[l]) * share);
    for (std::size_t l = 0; l < 2; ++l)
      result.f_exceed[l][i] = static_cast<float>(static_cast<double>(f_above[l]) * share);
  }

  std::vector<std::vector<int>> lines(members);
  for (std::size_t k = 0; k < members; ++k) lines[k] = runs[k].lines;
  const auto needed = static_cast<std::size_t>(
      std::ceil(options.agreement * static_cast<double>(members) - 1e-9));
  result.lines = gather_lines(std::move(lines), entries, std::max(result.nbw / 4, 1),
                              std::max<std::size_t>(needed, 1), result.f0, result.df);

  for (std::size_t k = 0; k < members; ++k) {
    for (const auto& note : runs[k].notes)
      result.notes.push_back("member " + std::to_string(result.analysed[k] + 1) + ": " + note);
  }
  if (options.keep_members) {
    result.member_estimate.reserve(members * entries);
    result.member_background.reserve(members * entries);
    result.member_f.reserve(members * entries);
    for (const MemberRun& r : runs) {
      result.member_estimate.insert(result.member_estimate.end(), r.estimate.begin(),
                                    r.estimate.end());
      result.member_background.insert(result.member_background.end(), r.background.begin(),
                                      r.background.end());
      result.member_f.insert(result.member_f.end(), r.f.begin(), r.f.end());
    }
  }
  out = std::move(result);
  return Status::success();
}

}  // namespace quorvane::spectral

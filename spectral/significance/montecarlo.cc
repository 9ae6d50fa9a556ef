#include "spectral/significance/montecarlo.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "spectral/numerics/work_arena.h"
#include "spectral/significance/surrogates.h"

namespace quorvane::spectral {

float empirical_quantile(std::span<const float> sorted, double q) {
  const std::size_t m = sorted.size();
  const double h = static_cast<double>(m + 1) * q;
  if (h <= 1.0) return sorted.front();
  if (h >= static_cast<double>(m)) return sorted.back();
  const std::size_t below = static_cast<std::size_t>(h);  // 1-based rank
  const double fraction = h - static_cast<double>(below);
  const double low = sorted[below - 1];
  const double high = sorted[below];
  return static_cast<float>(low + fraction * (high - low));
}

Status surrogate_levels(int surrogates, std::uint64_t seed, int jobs,
                        const std::function<SurrogateWorker()>& make_worker,
                        MonteCarloLevels& out, const std::function<bool()>& cancelled) {
  if (surrogates < 1) {
    return Status::failure("The number of surrogates must be positive (it is " +
                           std::to_string(surrogates) + ").");
  }
  if (jobs < 1) {
    return Status::failure("The number of jobs must be positive (it is " + std::to_string(jobs) +
                           ").");
  }
  const Status interrupted = interrupted_run();
  if (cancelled && cancelled()) return interrupted;
  // The first surrogate, on this thread, tells the band length.
  const SurrogateWorker first_worker = make_worker();
  SpecResults first;
  {
    RandomStream random(seed, 0);
    if (Status status = first_worker(random, first); !status) return status;
  }
  const std::size_t nfv = static_cast<std::size_t>(std::max(first.nf - 1, 0));
  const std::size_t count = static_cast<std::size_t>(surrogates);
  // Ratios of surrogate m at ratios[m * nfv + i]; each job writes only the
  // rows of the surrogates it takes.
  std::vector<float> ratios(count * nfv);
  auto store = [&](const SpecResults& r, std::size_t m) {
    float* row = ratios.data() + m * nfv;
    for (std::size_t i = 0; i < nfv; ++i) {
      const float back = r.specback0[i];
      const float value = back != 0.0f ? r.specraw0[i] / back : 0.0f;
      row[i] = std::isfinite(value) ? value : 0.0f;
    }
  };
  if (first.specraw0.size() < nfv || first.specback0.size() < nfv) {
    return Status::failure("A surrogate's spectrum does not cover the band.");
  }
  store(first, 0);

  std::atomic<std::size_t> next{1};
  std::mutex failure_lock;
  Status failure = Status::success();
  auto give_up = [&](Status status) {
    const std::lock_guard<std::mutex> hold(failure_lock);
    if (failure) failure = std::move(status);
    next = count;
  };
  // An exception (memory running out) must not escape a helper thread,
  // where it would end the program: it refuses the levels instead.
  auto work = [&](const SurrogateWorker* given) {
    try {
      const SurrogateWorker worker = given != nullptr ? *given : make_worker();
      SpecResults r;
      for (std::size_t m = next++; m < count; m = next++) {
        if (cancelled && cancelled()) return give_up(interrupted);
        RandomStream random(seed, m);
        if (Status status = worker(random, r); !status) return give_up(std::move(status));
        if (r.nf != first.nf || r.specraw0.size() < nfv || r.specback0.size() < nfv) {
          return give_up(Status::failure("A surrogate's spectrum does not cover the band."));
        }
        store(r, m);
      }
    } catch (const std::exception& error) {
      give_up(Status::failure(std::string("The Monte Carlo levels stopped: ") + error.what()));
    }
  };
  const std::size_t threads = std::min(static_cast<std::size_t>(jobs), count);
  std::vector<std::thread> helpers;
  for (std::size_t j = 1; j < threads; ++j) {
    // Without another thread the ones running take its share.
    try {
      helpers.emplace_back(work, nullptr);
    } catch (const std::system_error&) {
      break;
    }
  }
  work(&first_worker);
  for (std::thread& helper : helpers) helper.join();
  if (!failure) return failure;

  const double quantiles[4] = {0.5, 0.9, 0.95, 0.99};
  MonteCarloLevels result;
  for (std::vector<float>& level : result.local) level.assign(nfv + 1, 0.0f);
  std::vector<float> column(count);
  for (std::size_t i = 0; i < nfv; ++i) {
    for (std::size_t m = 0; m < count; ++m) column[m] = ratios[m * nfv + i];
    std::sort(column.begin(), column.end());
    for (std::size_t j = 0; j < 4; ++j) result.local[j][i] = empirical_quantile(column, quantiles[j]);
  }
  if (nfv > 0) {
    for (std::size_t m = 0; m < count; ++m) {
      const float* row = ratios.data() + m * nfv;
      column[m] = *std::max_element(row, row + nfv);
    }
    std::sort(column.begin(), column.end());
    result.band_wide = {empirical_quantile(column, 0.95), empirical_quantile(column, 0.99)};
  }
  out = std::move(result);
  return Status::success();
}

SpecSettings surrogate_settings(const SpecSettings& settings) {
  SpecSettings plain = settings;
  plain.surrogates = 0;
  plain.jackknife = false;
  return plain;
}

Status levels_on_times(std::span<const double> time, double tau, double variance,
                       const SpecSettings& settings, const PlanRun& run, MonteCarloLevels& out) {
  const SpecSettings plain = surrogate_settings(settings);
  const auto make_worker = [&]() -> SurrogateWorker {
    auto memory = std::make_shared<WorkArena>();
    auto surrogate = std::make_shared<std::vector<float>>(time.size());
    return [&, memory, surrogate](RandomStream& random, SpecResults& r) {
      ar1_surrogate_on_times(time, tau, variance, random, *surrogate);
      return run(*surrogate, plain, r, memory.get());
    };
  };
  return surrogate_levels(settings.surrogates, settings.seed, settings.jobs, make_worker, out,
                          settings.cancelled);
}

}  // namespace quorvane::spectral

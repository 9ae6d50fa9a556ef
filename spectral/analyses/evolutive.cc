#include "spectral/analyses/evolutive.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <exception>
#include <map>
#include <memory>
#include <variant>
#include <mutex>
#include <system_error>
#include <thread>

#include "spectral/estimators/gaps.h"
#include "spectral/estimators/uneven.h"
#include "spectral/numerics/work_arena.h"

namespace quorvane::spectral {

namespace {

// P(F <= f) for F with 2 and 2K - 2 degrees of freedom, whose distribution
// function has the closed form 1 - (1 + f / (K - 1))^-(K - 1).
double f_probability(double f, int nwin) {
  const double m = nwin - 1;
  return 1.0 - std::pow(1.0 + f / m, -m);
}

// P(X <= x) for chi-square with 2K degrees of freedom, by the finite
// Poisson sum of even degrees of freedom: 1 - e^(-x/2) sum_{j<K} (x/2)^j / j!
// (Abramowitz and Stegun 1964, ch. 26).
double chi_square_probability(double x, int nwin) {
  const double h = 0.5 * x;
  // Beyond this e^(-h) times the sum is below the double's resolution of 1.
  if (h > 700.0) return 1.0;
  double term = 1.0, sum = 1.0;
  for (int j = 1; j < nwin; ++j) {
    term *= h / j;
    sum += term;
  }
  return 1.0 - std::exp(-h) * sum;
}

float percent(double probability) { return static_cast<float>(100.0 * probability); }

// The work of one thread: its own run memory, results and row.
struct Job {
  SpecSession session;
  WorkArena memory;
  SpecResults results;
  std::vector<float> ratio;
  EvolutiveRow row;
  // The last uneven window's plan, whose band tables the next one shares.
  std::shared_ptr<const UnevenPlan> last_uneven;
};

std::string window_name(std::size_t window, std::size_t start, int length) {
  return "Window " + std::to_string(window + 1) + " (values " + std::to_string(start + 1) +
         " to " + std::to_string(start + static_cast<std::size_t>(length)) + ")";
}

// The rest of job.row from the run in job.results: the ratio to the
// background and the F-test maxima.
void finish_row(const SpecSettings& settings, Job& job) {
  const SpecResults& r = job.results;
  const auto m = static_cast<std::size_t>(std::max(r.nf - 1, 0));
  job.ratio.resize(m);
  for (std::size_t i = 0; i < m; ++i)
    job.ratio[i] = r.specback0[i] != 0.0f ? r.specraw0[i] / r.specback0[i] : 0.0f;
  job.row.spectrum = &r;
  job.row.ratio = job.ratio;
  job.row.lines = f_test_maxima(settings, r);
}

// The row of window `window` into job.row.
Status compute_row(std::span<const float> y, int length, int step, const SpecSettings& settings,
                   std::size_t window, Job& job) {
  EvolutiveRow& row = job.row;
  row.window = window;
  row.start = window * static_cast<std::size_t>(step);
  row.centre = static_cast<double>(row.start) + 0.5 * static_cast<double>(length - 1);
  row.notes.clear();
  const Status status =
      spec(y.subspan(row.start, static_cast<std::size_t>(length)), settings, job.session,
           job.results, [&row](std::string_view line) { row.notes.emplace_back(line); });
  if (!status) {
    std::string message = window_name(window, row.start, length);
    message.append(": ").append(status.message);
    return Status::failure(message);
  }
  finish_row(settings, job);
  return Status::success();
}

// The refusals common to both kinds of record, before any window: a
// record of `cells` values or steps.
Status check_windows(std::size_t cells, int length, int step, const SpecSettings& settings,
                     int jobs) {
  if (length < 2 * settings.nwin) {
    return Status::failure("A window of " + std::to_string(length) +
                           " values is too short: it needs at least twice the " +
                           std::to_string(settings.nwin) + " tapers, " +
                           std::to_string(2 * settings.nwin) + " values.");
  }
  if (static_cast<std::size_t>(length) > cells) {
    return Status::failure("A window of " + std::to_string(length) +
                           " values is longer than the record of " + std::to_string(cells) +
                           ".");
  }
  if (step < 1) {
    return Status::failure("The windows must move by at least one value (the step is " +
                           std::to_string(step) + ").");
  }
  if (jobs < 1) {
    return Status::failure("The number of jobs must be positive (it is " + std::to_string(jobs) +
                           ").");
  }
  if (settings.npts != length) {
    return Status::failure("The settings are those of " + std::to_string(settings.npts) +
                           " values, not of the window of " + std::to_string(length) + ".");
  }
  if (settings.surrogates > 0 || settings.jackknife) {
    return Status::failure(
        "Evolutive spectra take neither Monte Carlo levels nor the jackknife.");
  }
  return Status::success();
}

// Computes the rows of `count` windows on up to `jobs` threads (the
// caller's included) and delivers them in window order.
Status run_windows(std::size_t count, int jobs, const std::function<void(Job&)>& prepare,
                   const std::function<Status(std::size_t, Job&)>& compute,
                   const std::function<std::string(std::size_t)>& name,
                   const EvolutiveSink& deliver) {
  const std::size_t threads = std::min(static_cast<std::size_t>(jobs), count);
  if (threads == 0) return Status::success();
  // Windows are taken in order and delivered in order. Each thread has two
  // jobs: one whose window is done before an earlier one has been delivered
  // waits there while the thread goes on with the next window in the
  // other, so that windows of unequal cost (one or two red-noise fits, say)
  // do not hold the threads in step with each other.
  const std::size_t slots = threads == 1 ? 1 : 2 * threads;
  std::vector<Job> work(slots);
  for (Job& job : work) prepare(job);

  std::mutex lock;
  std::condition_variable changed;
  std::vector<std::size_t> free_jobs;
  for (std::size_t k = slots; k-- > 0;) free_jobs.push_back(k);
  // Windows done and waiting for their turn: their job and status.
  std::map<std::size_t, std::pair<std::size_t, Status>> done;
  std::size_t next = 0, delivered = 0;
  bool delivering = false, stop = false;
  Status failure = Status::success();
  const auto give_up = [&](Status status) {
    if (failure) failure = std::move(status);
    stop = true;
  };
  const auto run = [&] {
    std::unique_lock<std::mutex> hold(lock);
    while (true) {
      changed.wait(hold, [&] { return stop || next >= count || !free_jobs.empty(); });
      if (stop || next >= count) break;
      const std::size_t slot = free_jobs.back();
      free_jobs.pop_back();
      const std::size_t window = next++;
      hold.unlock();
      Status status = Status::success();
      try {
        status = compute(window, work[slot]);
      } catch (const std::exception& error) {
        status = Status::failure(name(window) + ": " + error.what());
      }
      hold.lock();
      done.emplace(window, std::make_pair(slot, std::move(status)));
      // One thread at a time delivers whatever is next in order; a window
      // done while another thread delivers is left to it.
      if (delivering) continue;
      delivering = true;
      for (auto ready = done.find(delivered); !stop && ready != done.end();
           ready = done.find(delivered)) {
        const std::size_t job = ready->second.first;
        Status result = std::move(ready->second.second);
        done.erase(ready);
        hold.unlock();
        if (result) {
          try {
            result = deliver(work[job].row);
          } catch (const std::exception& error) {
            result = Status::failure(std::string("The evolutive run stopped: ") + error.what());
          }
        }
        hold.lock();
        if (!result) give_up(std::move(result));
        ++delivered;
        free_jobs.push_back(job);
        changed.notify_all();
      }
      delivering = false;
    }
  };

  std::vector<std::thread> helpers;
  for (std::size_t t = 1; t < threads; ++t) {
    try {
      helpers.emplace_back(run);
    } catch (const std::system_error&) {
      break;  // fewer threads share the windows
    }
  }
  run();
  for (auto& helper : helpers) helper.join();
  return failure;
}

}  // namespace

std::size_t evolutive_window_count(std::size_t n, int length, int step) {
  if (length < 1 || step < 1 || static_cast<std::size_t>(length) > n) return 0;
  return (n - static_cast<std::size_t>(length)) / static_cast<std::size_t>(step) + 1;
}

std::vector<EvolutiveLine> f_test_maxima(const SpecSettings& settings, const SpecResults& r) {
  std::vector<EvolutiveLine> lines;
  if (settings.nwin < 2 || r.nf < 2 || settings.isiglev < 1 || settings.isiglev > 6) return lines;
  const auto m = static_cast<std::size_t>(r.nf - 1);
  if (r.ftest.size() < m || r.specraw0.size() < m || r.specback0.size() < m) return lines;
  const float level = r.fconf[static_cast<std::size_t>(settings.isiglev - 1)];
  const int nwin = settings.nwin;
  for (std::size_t i = 0; i < m; ++i) {
    const float f = r.ftest[i];
    if (!(f > level)) continue;
    if (i > 0 && !(f > r.ftest[i - 1])) continue;
    if (i + 1 < m && f < r.ftest[i + 1]) continue;
    EvolutiveLine line;
    line.entry = static_cast<int>(i);
    line.frequency = r.f0 + static_cast<float>(i) * r.df;
    line.f = f;
    line.f_significance = percent(f_probability(f, nwin));
    line.ratio = r.specback0[i] != 0.0f ? r.specraw0[i] / r.specback0[i] : 0.0f;
    line.significance =
        percent(chi_square_probability(2.0 * nwin * static_cast<double>(line.ratio), nwin));
    lines.push_back(line);
  }
  return lines;
}

Status evolutive_spectrum(std::span<const float> y, int length, int step,
                          const SpecSettings& settings, int jobs, const EvolutiveSink& deliver) {
  if (Status status = check_windows(y.size(), length, step, settings, jobs); !status)
    return status;
  RunTapers tapers;
  if (Status status = spec_tapers(settings, tapers); !status) return status;

  const std::size_t count = evolutive_window_count(y.size(), length, step);
  return run_windows(
      count, jobs, [&](Job& job) { job.session.keep_tapers(tapers); },
      [&](std::size_t window, Job& job) {
        return compute_row(y, length, step, settings, window, job);
      },
      [&](std::size_t window) {
        return window_name(window, window * static_cast<std::size_t>(step), length);
      },
      deliver);
}

namespace {

// Plans of the windows whose sampling repeats, keyed by the pattern: the
// method, then the window's cells (gaps) or its times from the first in
// millionths of a step (uneven). Shared by the jobs; a plan two jobs make
// at once is kept once. The oldest goes when it holds kCapacity plans:
// records whose sampling repeats do so within a few windows, and a record
// that never repeats must not hold every window's tapers.
class PlanCache {
 public:
  using Plan = std::variant<std::shared_ptr<const GapsPlan>, std::shared_ptr<const UnevenPlan>>;
  using Key = std::vector<std::int64_t>;

  // The plan of `key`: the one kept (reused set), else one `make` makes,
  // then kept.
  template <typename Estimator, typename Make>
  Status plan(const Key& key, std::shared_ptr<const Estimator>& out, bool& reused, Make make) {
    {
      const std::lock_guard<std::mutex> hold(lock_);
      if (const auto it = plans_.find(key); it != plans_.end()) {
        out = std::get<std::shared_ptr<const Estimator>>(it->second);
        reused = true;
        return Status::success();
      }
    }
    auto made = std::make_shared<Estimator>();
    if (Status status = make(*made); !status) return status;
    out = made;
    keep(key, out);
    return Status::success();
  }

 private:
  void keep(const Key& key, const Plan& plan) {
    const std::lock_guard<std::mutex> hold(lock_);
    if (!plans_.emplace(key, plan).second) return;
    order_.push_back(key);
    if (order_.size() > kCapacity) {
      plans_.erase(order_.front());
      order_.pop_front();
    }
  }

  static constexpr std::size_t kCapacity = 32;
  std::mutex lock_;
  std::map<Key, Plan> plans_;
  std::deque<Key> order_;
};

// The record's cells and where each sample lies on them.
struct Cells {
  std::vector<std::int64_t> cell;  // per sample, nondecreasing
  std::vector<char> on_grid;       // per sample: within kStepTolerance steps of its cell's time
};

Cells record_cells(std::span<const double> time, const Sampling& sampling, double dt) {
  Cells c;
  c.on_grid.assign(time.size(), 1);
  if (sampling.kind != SamplingClass::uneven) {
    grid_positions(time, sampling.median_step, c.cell);
    return c;
  }
  c.cell.resize(time.size());
  for (std::size_t j = 0; j < time.size(); ++j) {
    const double x = (time[j] - time.front()) / dt;
    c.cell[j] = static_cast<std::int64_t>(std::floor(x + 0.5));
    c.on_grid[j] = std::fabs(x - static_cast<double>(c.cell[j])) <= kStepTolerance;
  }
  return c;
}

// The FNV-1a hash of a pattern key's values, never 0.
std::uint64_t pattern_of(const PlanCache::Key& key) {
  std::uint64_t hash = 14695981039346656037ull;
  for (const std::int64_t value : key) {
    auto bits = static_cast<std::uint64_t>(value);
    for (int byte = 0; byte < 8; ++byte, bits >>= 8) {
      hash ^= bits & 0xffu;
      hash *= 1099511628211ull;
    }
  }
  return hash == 0 ? 1 : hash;
}

std::string timed_window_name(std::size_t window, std::int64_t first, int length) {
  return "Window " + std::to_string(window + 1) + " (steps " + std::to_string(first + 1) +
         " to " + std::to_string(first + length) + ")";
}

}  // namespace

Status evolutive_on_times(std::span<const double> time, std::span<const float> y,
                          const Sampling& sampling, int length, int step, int min_samples,
                          const SpecSettings& settings, int jobs, const EvolutiveSink& deliver,
                          WindowMethods methods) {
  if (time.size() != y.size() || time.size() < 2) {
    return Status::failure("The record needs one time per value and at least 2 values.");
  }
  for (std::size_t j = 1; j < time.size(); ++j) {
    if (!(time[j] > time[j - 1]) || !std::isfinite(time[j]) || !std::isfinite(time[0])) {
      return Status::failure("The times must be finite and increasing (time " +
                             std::to_string(j + 1) + " is not).");
    }
  }
  const double dt = static_cast<double>(settings.dt);
  if (!(dt > 0.0)) return Status::failure("The step of the windows' grid must be positive.");
  const Cells cells = record_cells(time, sampling, dt);
  const auto span_cells = static_cast<std::size_t>(cells.cell.back() + 1);
  if (Status status = check_windows(span_cells, length, step, settings, jobs); !status)
    return status;
  if (min_samples < settings.nwin + 1) {
    return Status::failure("A window needs at least " + std::to_string(settings.nwin + 1) +
                           " samples for " + std::to_string(settings.nwin) +
                           " tapers (the minimum asked is " + std::to_string(min_samples) + ").");
  }
  RunTapers tapers;
  if (Status status = spec_tapers(settings, tapers); !status) return status;
  const Grid band = frequency_grid(settings);
  const auto entries = static_cast<std::size_t>(std::max(band.nf - 1, 0));
  // The span whose grid 1 / (span pad) is that of the evenly spaced
  // windows, whose padded transform holds at least 1024 entries.
  const double grid_span =
      static_cast<double>(transform_length(length, settings.pad)) * dt / settings.pad;
  PlanCache cache;
  // The Slepian tapers of the window's duration, computed once and
  // evaluated at each uneven window's times (on a grid of at least 1024
  // cells, as the uneven estimator's own, so that four-point interpolation
  // stays exact to single precision).
  GridTapers window_tapers;
  grid_tapers(std::max(length, 1024), settings, window_tapers);

  const auto compute = [&](std::size_t window, Job& job) -> Status {
    EvolutiveRow& row = job.row;
    const auto first = static_cast<std::int64_t>(window) * step;
    const std::int64_t end = first + length;
    row.window = window;
    row.start = static_cast<std::size_t>(first);
    row.centre = static_cast<double>(first) + 0.5 * static_cast<double>(length - 1);
    row.notes.clear();
    row.lines.clear();
    row.ratio = {};
    row.spectrum = nullptr;
    row.empty.clear();
    row.plan_reused = false;
    row.pattern = 0;
    row.f0 = band.f0;
    row.df = band.df;
    row.entries = entries;
    const auto lo = static_cast<std::size_t>(
        std::lower_bound(cells.cell.begin(), cells.cell.end(), first) - cells.cell.begin());
    const auto hi = static_cast<std::size_t>(
        std::lower_bound(cells.cell.begin(), cells.cell.end(), end) - cells.cell.begin());
    const std::size_t n = hi - lo;
    row.samples = n;
    std::int64_t held = 0;  // cells holding at least one sample
    bool gridded = true;    // one sample per cell, each on its cell's time
    for (std::size_t j = lo; j < hi; ++j) {
      if (j == lo || cells.cell[j] != cells.cell[j - 1]) ++held;
      else gridded = false;
      if (!cells.on_grid[j]) gridded = false;
    }
    row.method = WindowMethod::empty;
    if (n < static_cast<std::size_t>(min_samples)) {
      row.empty = std::to_string(n) + " samples, fewer than the " + std::to_string(min_samples) +
                  " a window needs";
      return Status::success();
    }
    if (2 * (length - held) > length) {
      row.empty = std::to_string(length - held) + " of its " + std::to_string(length) +
                  " steps hold no sample, more than half its span";
      return Status::success();
    }
    const auto values = y.subspan(lo, n);
    const auto note = [&row](std::string_view line) { row.notes.emplace_back(line); };
    Status status = Status::success();
    // Samples on the grid take the grid's methods unless every window is
    // to be analysed by the uneven one.
    if (methods == WindowMethods::all_uneven) gridded = false;
    if (gridded && held == length) {
      row.method = WindowMethod::even;
      status = spec(values, settings, job.session, job.results, note);
    } else if (gridded) {
      row.method = WindowMethod::gaps;
      PlanCache::Key key{0};
      for (std::size_t j = lo; j < hi; ++j) key.push_back(cells.cell[j] - first);
      row.pattern = pattern_of(key);
      std::shared_ptr<const GapsPlan> plan;
      status = cache.plan(key, plan, row.plan_reused, [&](GapsPlan& made) {
        return GapsPlan::make(std::span<const std::int64_t>(key).subspan(1), settings, made);
      });
      if (status) status = plan->run(values, settings, job.results, note, &job.memory);
    } else {
      row.method = WindowMethod::uneven;
      SpecSettings own = settings;
      own.npts = static_cast<int>(n);
      const auto times = time.subspan(lo, n);
      PlanCache::Key key{1};
      for (double t : times) key.push_back(std::llround((t - times.front()) / dt * 1e6));
      row.pattern = pattern_of(key);
      std::shared_ptr<const UnevenPlan> plan;
      status = cache.plan(key, plan, row.plan_reused, [&](UnevenPlan& made) {
        return UnevenPlan::make(times, own, made, grid_span, &window_tapers, job.last_uneven.get());
      });
      if (status) job.last_uneven = plan;
      if (status) status = plan->run(values, own, job.results, note, &job.memory);
    }
    if (status && static_cast<std::size_t>(std::max(job.results.nf - 1, 0)) != entries) {
      status = Status::failure("its band holds " + std::to_string(job.results.nf - 1) +
                               " frequencies, not the windows' " + std::to_string(entries));
    }
    if (!status) {
      return Status::failure(timed_window_name(window, first, length) + ": " + status.message);
    }
    finish_row(settings, job);
    return Status::success();
  };

  const std::size_t count = evolutive_window_count(span_cells, length, step);
  return run_windows(
      count, jobs, [&](Job& job) { job.session.keep_tapers(tapers); }, compute,
      [&](std::size_t window) {
        return timed_window_name(window, static_cast<std::int64_t>(window) * step, length);
      },
      deliver);
}

}  // namespace quorvane::spectral

#include "spectral/analyses/evolutive.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

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
  SpecResults results;
  std::vector<float> ratio;
  EvolutiveRow row;
};

std::string window_name(std::size_t window, std::size_t start, int length) {
  return "Window " + std::to_string(window + 1) + " (values " + std::to_string(start + 1) +
         " to " + std::to_string(start + static_cast<std::size_t>(length)) + ")";
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
  const SpecResults& r = job.results;
  const auto m = static_cast<std::size_t>(std::max(r.nf - 1, 0));
  job.ratio.resize(m);
  for (std::size_t i = 0; i < m; ++i)
    job.ratio[i] = r.specback0[i] != 0.0f ? r.specraw0[i] / r.specback0[i] : 0.0f;
  row.spectrum = &r;
  row.ratio = job.ratio;
  row.lines = f_test_maxima(settings, r);
  return Status::success();
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
  if (length < 2 * settings.nwin) {
    return Status::failure("A window of " + std::to_string(length) +
                           " values is too short: it needs at least twice the " +
                           std::to_string(settings.nwin) + " tapers, " +
                           std::to_string(2 * settings.nwin) + " values.");
  }
  if (static_cast<std::size_t>(length) > y.size()) {
    return Status::failure("A window of " + std::to_string(length) +
                           " values is longer than the record of " + std::to_string(y.size()) +
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
  RunTapers tapers;
  if (Status status = spec_tapers(settings, tapers); !status) return status;

  const std::size_t count = evolutive_window_count(y.size(), length, step);
  const std::size_t threads = std::min(static_cast<std::size_t>(jobs), count);
  std::vector<Job> work(threads);
  for (Job& job : work) job.session.keep_tapers(tapers);

  // Windows are taken in order; each job waits with its finished row until
  // every earlier window is delivered, then delivers it itself.
  std::mutex lock;
  std::condition_variable turn;
  std::size_t next = 0, delivered = 0;
  bool stop = false;
  Status failure = Status::success();
  const auto give_up = [&](Status status) {
    if (failure) failure = std::move(status);
    stop = true;
    turn.notify_all();
  };
  const auto run = [&](Job& job) {
    std::unique_lock<std::mutex> hold(lock);
    while (!stop && next < count) {
      const std::size_t window = next++;
      hold.unlock();
      Status status = Status::success();
      try {
        status = compute_row(y, length, step, settings, window, job);
      } catch (const std::exception& error) {
        status = Status::failure("" + window_name(window, window * static_cast<std::size_t>(step),
                                                   length) +
                                 ": " + error.what());
      }
      hold.lock();
      turn.wait(hold, [&] { return stop || delivered == window; });
      if (stop) break;
      // Only this job may deliver until `delivered` moves on.
      hold.unlock();
      if (status) {
        try {
          status = deliver(job.row);
        } catch (const std::exception& error) {
          status = Status::failure(std::string("The evolutive run stopped: ") + error.what());
        }
      }
      hold.lock();
      if (!status) give_up(std::move(status));
      ++delivered;
      turn.notify_all();
    }
  };

  std::vector<std::thread> helpers;
  for (std::size_t t = 1; t < threads; ++t) {
    try {
      helpers.emplace_back(run, std::ref(work[t]));
    } catch (const std::system_error&) {
      break;  // fewer threads share the windows
    }
  }
  if (threads > 0) run(work[0]);
  for (auto& helper : helpers) helper.join();
  return failure;
}

}  // namespace quorvane::spectral

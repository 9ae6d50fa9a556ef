// The spectrum plan: tapers solved once for a length and settings, and a
// few sessions of work memory that calls take in turn.
#include <fmt/format.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "api/analysis.h"
#include "api/planned_spectrum.h"
#include "common/text.h"
#include "quorvane/plan.h"

namespace quorvane {

struct SpectrumPlan::State {
  int length = 0;
  double dt = 1.0;
  Settings settings;
  spectral::RunTapers tapers;
  // Sessions not in use, each holding its own copy of the tapers and the
  // memory of its last run; a call takes one (or makes one when all are
  // busy) and gives it back, so concurrent calls never share memory.
  std::mutex mutex;
  std::vector<std::unique_ptr<spectral::SpecSession>> idle;
  // The times of the first series analysed and their sampling, set once
  // (under the mutex, then `shaped`): later series of the same times, such
  // as the cells of a grid, are not classified again.
  std::vector<double> shape_times;
  spectral::Sampling shape_sampling;
  std::atomic<bool> shaped{false};

  const spectral::Sampling* known_sampling(const std::vector<double>& times) const {
    if (!shaped.load(std::memory_order_acquire) || times != shape_times) return nullptr;
    return &shape_sampling;
  }
  void remember_sampling(const std::vector<double>& times, const spectral::Sampling& sampling) {
    if (shaped.load(std::memory_order_acquire)) return;
    const std::lock_guard<std::mutex> held(mutex);
    if (shaped.load(std::memory_order_relaxed)) return;
    shape_times = times;
    shape_sampling = sampling;
    shaped.store(true, std::memory_order_release);
  }

  std::unique_ptr<spectral::SpecSession> take() {
    {
      const std::lock_guard<std::mutex> held(mutex);
      if (!idle.empty()) {
        std::unique_ptr<spectral::SpecSession> session = std::move(idle.back());
        idle.pop_back();
        return session;
      }
    }
    auto session = std::make_unique<spectral::SpecSession>();
    session->keep_tapers(tapers);
    return session;
  }
  void give_back(std::unique_ptr<spectral::SpecSession> session) {
    const std::lock_guard<std::mutex> held(mutex);
    idle.push_back(std::move(session));
  }
};

namespace {

const char* kNoMemory = "the analysis needs more memory than this machine can give";

// The times of `length` values every `dt`, as a series without times of
// its own gets them in the Python module.
std::vector<double> even_times(int length, double dt) {
  std::vector<double> times(static_cast<std::size_t>(length));
  for (std::size_t i = 0; i < times.size(); ++i) times[i] = static_cast<double>(i) * dt;
  return times;
}

// Only the evenly spaced engine runs on tapers of the record's length.
Status evenly_analysed(const api::AnalysisRecord& r, const std::string& name) {
  if (r.method == api::SpectrumMethod::even) return Status::success();
  return Status::failure(fmt::format(
      "the series{} gets the {} analysis; a spectrum plan serves evenly spaced series only",
      spaced(name), api::method_name(r.method)));
}

}  // namespace

SpectrumPlan::SpectrumPlan() = default;
SpectrumPlan::~SpectrumPlan() = default;
SpectrumPlan::SpectrumPlan(SpectrumPlan&&) noexcept = default;
SpectrumPlan& SpectrumPlan::operator=(SpectrumPlan&&) noexcept = default;

int SpectrumPlan::length() const { return state_ ? state_->length : 0; }
double SpectrumPlan::dt() const { return state_ ? state_->dt : 0.0; }
const Settings& SpectrumPlan::settings() const {
  static const Settings none;
  return state_ ? state_->settings : none;
}

Result<SpectrumPlan> SpectrumPlan::make(int length, double dt, const Settings& settings) {
  if (length < 2)
    return Status::failure(
        fmt::format("a plan's length must be at least 2 values, not {}", length));
  if (!(dt > 0.0) || !std::isfinite(dt))
    return Status::failure(fmt::format("a plan's dt must be a positive number, not {}", dt));
  // Memory running out while the tapers are solved is a refusal, as in
  // every public function.
  try {
    return make_unguarded(length, dt, settings);
  } catch (const std::bad_alloc&) {
    return Status::out_of_memory(kNoMemory);
  }
}

Result<SpectrumPlan> SpectrumPlan::make_unguarded(int length, double dt, const Settings& settings) {
  auto state = std::make_unique<State>();
  state->length = length;
  state->dt = dt;
  state->settings = settings;
  state->settings.cancelled = nullptr;  // each call brings its own
  // A series of the plan's shape runs up to its engine settings, which
  // decide the tapers; nothing is computed on its (zero) values.
  Series shape;
  shape.values.assign(static_cast<std::size_t>(length), 0.0f);
  shape.times = even_times(length, dt);
  Status solved = Status::success();
  const Result<Spectrum> checked = api::session_spectrum(
      shape, state->settings, nullptr,
      [&](const api::AnalysisRecord& r, const spectral::SpecSettings& engine, bool& stop) {
        stop = true;
        if (Status even = evenly_analysed(r, shape.name); !even) return even;
        solved = spectral::spec_tapers(engine, state->tapers);
        return Status::success();
      });
  if (!checked) return checked.status();
  if (!solved) return solved;
  SpectrumPlan plan;
  plan.state_ = std::move(state);
  return plan;
}

Result<Spectrum> spectrum(const SpectrumPlan& plan, const Series& series,
                          const std::function<bool()>& cancelled) {
  return api::PlanRun::spectrum(plan, series, cancelled, true);
}

Result<Spectrum> api::PlanRun::spectrum(const SpectrumPlan& plan, const Series& series,
                                        const std::function<bool()>& cancelled, bool lines) {
  SpectrumPlan::State* state = plan.state_.get();
  if (state == nullptr)
    return Status::failure("the spectrum plan is empty: SpectrumPlan::make makes one");
  Settings settings = state->settings;
  if (cancelled) settings.cancelled = cancelled;
  std::unique_ptr<spectral::SpecSession> session;
  try {
    session = state->take();
  } catch (const std::bad_alloc&) {
    return Status::out_of_memory(kNoMemory);
  }
  const spectral::Sampling* known = state->known_sampling(series.times);
  Result<Spectrum> result = api::session_spectrum(
      series, settings, session.get(),
      [&](const api::AnalysisRecord& r, const spectral::SpecSettings&, bool&) {
        if (known == nullptr) state->remember_sampling(series.times, r.sampling);
        if (r.npts != state->length)
          return Status::failure(fmt::format("the series{} has {} values; the plan is for {}",
                                             spaced(series.name), r.npts, state->length));
        if (Status even = evenly_analysed(r, series.name); !even) return even;
        if (std::fabs(r.dt - state->dt) > 1e-4 * state->dt)
          return Status::failure(fmt::format("the series{} has the step {}; the plan is for {}",
                                             spaced(series.name), r.dt, state->dt));
        return Status::success();
      },
      lines, known);
  state->give_back(std::move(session));
  return result;
}

}  // namespace quorvane

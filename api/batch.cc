// The spectra of a block of series: one plan (or one check of the
// settings), the series handed out to threads one at a time, and each
// spectrum's arrays copied into its row of the block's arrays.
#include "quorvane/batch.h"

#include <fmt/format.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <mutex>
#include <new>
#include <optional>
#include <system_error>
#include <thread>

#include "api/analysis.h"
#include "api/planned_spectrum.h"
#include "quorvane/plan.h"
#include "spectral/significance/band_wide.h"

namespace quorvane {

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr int kMostJobs = 1024;

// What the settings give a series of the block's times, learnt before
// anything is computed.
struct BlockShape {
  api::SpectrumMethod method = api::SpectrumMethod::even;
  float dt = 0.0f;
  float bandwidth = 0.0f;
  std::string sampling;  // the class of the times
  spectral::SpecSettings engine;
};

Result<BlockShape> block_shape(std::span<const double> times, const Settings& settings) {
  Series shape;
  shape.times.assign(times.begin(), times.end());
  shape.values.assign(times.size(), 0.0f);
  BlockShape out;
  const Result<Spectrum> checked = api::session_spectrum(
      shape, settings, nullptr,
      [&](const api::AnalysisRecord& r, const spectral::SpecSettings& engine, bool& stop) {
        stop = true;
        out.method = r.method;
        out.dt = r.dt;
        out.bandwidth = r.bndwdth;
        out.sampling = api::sampling_class_name(r.sampling.kind);
        out.engine = engine;
        return Status::success();
      });
  if (!checked) return checked.status();
  return out;
}

bool all_missing(std::span<const float> row) {
  return std::all_of(row.begin(), row.end(), [](float v) { return std::isnan(v); });
}

void allocate(BatchSpectra& out, std::size_t nf) {
  const std::size_t cells = static_cast<std::size_t>(out.count) * nf;
  for (std::vector<float>* v : {&out.estimate, &out.background, &out.F}) v->assign(cells, kNaN);
  for (std::vector<float>& level : out.levels) level.assign(cells, kNaN);
  const std::size_t count = static_cast<std::size_t>(out.count);
  for (std::vector<float>* v :
       {&out.peak_frequency, &out.peak_ratio, &out.peak_significance, &out.band_p_value})
    v->assign(count, kNaN);
}

// The strongest line among the peaks (the trend excluded), as the maps
// hold it.
void strongest_line(const Spectrum& s, bool by_f, BatchSpectra& out, std::size_t i) {
  const Peak* best = nullptr;
  for (const Peak& peak : s.peaks) {
    if (peak.trend) continue;
    if (best == nullptr || (by_f ? peak.F > best->F : peak.ratio > best->ratio)) best = &peak;
  }
  if (best == nullptr) return;
  out.peak_frequency[i] = best->frequency;
  out.peak_ratio[i] = best->ratio;
  out.peak_significance[i] = best->significance;
}

// The independent frequencies of the band above the trend: its width in
// Rayleigh frequencies 1/(N dt), the bandwidth over 2P. The estimates are
// correlated over the bandwidth, but the largest of them exceeds a level
// about as often as the largest of this many independent values would.
double independent_of(const std::vector<float>& frequency, float bandwidth, int resolution) {
  const double low = std::max(static_cast<double>(frequency.front()), static_cast<double>(bandwidth));
  return spectral::independent_frequencies(static_cast<double>(frequency.back()) - low,
                                           static_cast<double>(bandwidth) / (2.0 * resolution));
}

// The band-wide chance of the largest ratio (or F) above the trend. The
// ratios are first scaled so that their median over the band is the
// chi-square median: the background is estimated from the same spectrum,
// and an error of its level would otherwise shift every p-value of a
// cell (the robust background lies about a tenth below the mean of noise).
float band_p_value(const Spectrum& s, bool by_f, double independent) {
  std::vector<double> values;
  values.reserve(s.frequency.size());
  for (std::size_t j = 0; j < s.frequency.size(); ++j) {
    if (s.frequency[j] < s.bandwidth) continue;
    const double value = by_f ? static_cast<double>(s.F[j])
                              : static_cast<double>(s.estimate[j]) / static_cast<double>(s.background[j]);
    if (std::isfinite(value)) values.push_back(value);
  }
  if (values.empty()) return kNaN;
  const int tapers = s.used.tapers.value_or(1);
  double largest = *std::max_element(values.begin(), values.end());
  if (!by_f) {
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    if (*middle > 0.0) largest *= spectral::band_wide_ratio(0.5, 1.0, tapers) / *middle;
  }
  const double one = by_f ? spectral::f_exceedance(largest, tapers)
                          : spectral::ratio_exceedance(largest, tapers);
  return static_cast<float>(spectral::band_wide_chance(one, independent));
}

}  // namespace

Result<BatchSpectra> batch_spectra(std::span<const float> values, int count,
                                   std::span<const double> times, const Settings& settings,
                                   int jobs, const std::function<bool()>& cancelled) {
  if (count < 0) return Status::failure(fmt::format("count must not be negative, not {}", count));
  if (times.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()) ||
      values.size() != static_cast<std::size_t>(count) * times.size())
    return Status::failure(fmt::format("the block holds {} values, not {} series of {}",
                                       values.size(), count, times.size()));
  if (jobs < 1 || jobs > kMostJobs)
    return Status::failure(fmt::format("jobs must be from 1 to {}, not {}", kMostJobs, jobs));
  try {
    Result<BlockShape> shape = block_shape(times, settings);
    if (!shape) return shape.status();
    const bool even = shape->method == api::SpectrumMethod::even;
    std::optional<SpectrumPlan> plan;
    if (even) {
      Result<SpectrumPlan> made =
          SpectrumPlan::make(static_cast<int>(times.size()), shape->dt, settings);
      if (!made) return made.status();
      plan = std::move(made).value();
    }
    BatchSpectra out;
    out.count = count;
    out.length = static_cast<int>(times.size());
    out.method = api::method_name(shape->method);
    out.dt = shape->dt;
    out.bandwidth = shape->bandwidth;
    out.tapers = shape->engine.nwin;
    out.sampling = shape->sampling;
    const bool by_f = settings.signal == Signal::harmonic;
    const std::size_t length = times.size();
    std::size_t nf = 0;
    if (even) {
      // The plan's grid: the frequencies of every spectrum it gives.
      const spectral::Grid grid = spectral::frequency_grid(shape->engine);
      nf = static_cast<std::size_t>(grid.nfv);
      out.frequency.resize(nf);
      for (std::size_t j = 0; j < nf; ++j)
        out.frequency[j] = grid.f0 + static_cast<float>(j) * grid.df;
      if (nf > 0) out.independent = independent_of(out.frequency, out.bandwidth, settings.resolution);
    }

    Settings own = settings;
    if (cancelled) own.cancelled = cancelled;
    auto analyse = [&](int i) -> Result<Spectrum> {
      try {
        Series series;
        series.times.assign(times.begin(), times.end());
        const std::span<const float> row = values.subspan(static_cast<std::size_t>(i) * length, length);
        series.values.assign(row.begin(), row.end());
        // The maps keep the peaks' own columns: their lines between bins
        // are not estimated.
        return plan ? api::PlanRun::spectrum(*plan, series, cancelled, false)
                    : api::session_spectrum(series, own, nullptr, {}, false);
      } catch (const std::bad_alloc&) {
        return Status::out_of_memory("the analysis needs more memory than this machine can give");
      }
    };
    const auto missing = [&](int i) {
      return all_missing(values.subspan(static_cast<std::size_t>(i) * length, length));
    };

    // Other methods than the plan's have the frequencies of their estimator,
    // known once the first series with values is analysed, here.
    int begin = 0;
    std::optional<Result<Spectrum>> first;
    if (!even) {
      while (begin < count && missing(begin)) ++begin;
      if (begin < count) {
        first = analyse(begin);
        if (!*first) return Status::failure(fmt::format("series {}: {}", begin, first->message()));
        out.frequency = (*first)->frequency;
        nf = out.frequency.size();
        out.bandwidth = (*first)->bandwidth;
        if (nf > 0) out.independent = independent_of(out.frequency, out.bandwidth, settings.resolution);
      }
    }
    allocate(out, nf);

    // Every thread takes the next series in turn and writes its row, so the
    // threads change the order of work only; the refusal reported is that
    // of the first series refused.
    std::mutex mutex;
    int refused = count;
    std::string refusal;
    bool described = false;
    const auto keep = [&](int i, const Result<Spectrum>& result) {
      if (!result || result->frequency != out.frequency) {
        const std::lock_guard<std::mutex> held(mutex);
        if (i < refused) {
          refused = i;
          refusal = !result ? result.message() : "its frequencies differ from the block's";
        }
        return;
      }
      const Spectrum& s = *result;
      const auto at = static_cast<std::ptrdiff_t>(static_cast<std::size_t>(i) * nf);
      std::copy(s.estimate.begin(), s.estimate.end(), out.estimate.begin() + at);
      std::copy(s.background.begin(), s.background.end(), out.background.begin() + at);
      std::copy(s.F.begin(), s.F.end(), out.F.begin() + at);
      for (std::size_t k = 0; k < out.levels.size(); ++k)
        std::copy(s.levels[k].begin(), s.levels[k].end(), out.levels[k].begin() + at);
      strongest_line(s, by_f, out, static_cast<std::size_t>(i));
      out.band_p_value[static_cast<std::size_t>(i)] = band_p_value(s, by_f, out.independent);
      // The settings as applied are those of any series: the block's
      // settings and times decide them.
      const std::lock_guard<std::mutex> held(mutex);
      if (!described) {
        out.used = s.used;
        described = true;
      }
    };
    if (first) keep(begin++, *first);
    std::atomic<int> next{begin};
    std::atomic<bool> stopped{false};
    auto work = [&] {
      for (int i = next++; i < count && !stopped; i = next++) {
        if (missing(i)) continue;
        if (cancelled && cancelled()) {
          stopped = true;
          break;
        }
        keep(i, analyse(i));
      }
    };
    const int threads = std::min(jobs, std::max(count - begin, 1));
    std::vector<std::thread> pool;
    // A thread the system refuses leaves its share to the others.
    try {
      for (int t = 1; t < threads; ++t) pool.emplace_back(work);
    } catch (const std::system_error&) {
    }
    work();
    for (std::thread& thread : pool) thread.join();
    if (stopped) return Status::interrupted("The run was interrupted.");
    if (refused < count) return Status::failure(fmt::format("series {}: {}", refused, refusal));
    return out;
  } catch (const std::bad_alloc&) {
    return Status::out_of_memory("the analysis needs more memory than this machine can give");
  }
}

double band_wide_ratio(double alpha, double independent, int tapers) {
  if (!(alpha > 0.0 && alpha < 1.0) || !(independent >= 1.0) || tapers < 1)
    return std::numeric_limits<double>::quiet_NaN();
  return spectral::band_wide_ratio(alpha, independent, tapers);
}

}  // namespace quorvane

// Speed of the per-entry steps of a long band: the running median of a raw
// spectrum and the AR(1) grid fit to that median (the robust background,
// with the window of the default smoothing width, a fifth of the band), and
// the adaptive estimate and F statistic from K = 7 eigencoefficients.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstddef>
#include <numeric>
#include <random>
#include <vector>

#include "spectral/numerics/running_median.h"
#include "spectral/stages/eigenspectra.h"
#include "spectral/stages/red_noise.h"

namespace {

using namespace quorvane::spectral;

// A raw multitaper spectrum of an AR(1) series with coefficient 0.7: the
// model curve times the scatter of an estimate with 2K = 14 degrees of freedom.
std::vector<float> raw_spectrum(int n) {
  std::mt19937 gen(7);
  std::chi_squared_distribution<float> scatter(14.0f);
  std::vector<float> s(static_cast<std::size_t>(n));
  const float r = 0.7f;
  for (int i = 0; i < n; ++i) {
    const float cs = std::cos(3.14159265f * static_cast<float>(i) / static_cast<float>(n));
    s[static_cast<std::size_t>(i)] =
        (1.0f - r * r) / (1.0f - 2.0f * r * cs + r * r) * scatter(gen) / 14.0f;
  }
  return s;
}

int half_window(int n) { return n / 10; }

void BM_RunningMedian(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const std::vector<float> raw = raw_spectrum(n);
  std::vector<float> out(raw.size());
  for (auto _ : state) {
    running_median(raw, half_window(n), out);
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_RunningMedian)->Arg(16384)->Arg(524288)->Unit(benchmark::kMillisecond);

// The grid fit to the median of a raw spectrum of n entries (512: the band
// of a 1,024-value series), log (1) or linear (0) misfit.
void BM_RedNoiseGridFit(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const std::vector<float> raw = raw_spectrum(n);
  std::vector<float> smed(raw.size());
  running_median(raw, half_window(n), smed);
  const float s0 = std::accumulate(smed.begin(), smed.end(), 0.0f) / static_cast<float>(n);
  const MisfitBand band{s0, smed, 0.5f, 0.5f / static_cast<float>(n), 0.0f,
                        state.range(1) == 1 ? quorvane::Fit::log : quorvane::Fit::linear};
  for (auto _ : state) benchmark::DoNotOptimize(red_noise_grid_fit(band, 0.7f));
}
BENCHMARK(BM_RedNoiseGridFit)
    ->ArgsProduct({{512, 16384, 524288}, {1, 0}})
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);

// The same fit of the log misfit with a cache of the band's sums, as a
// plan's or a session's later spectra find it (the first fit on the band
// makes them, outside the timing).
void BM_RedNoiseGridFitCached(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const std::vector<float> raw = raw_spectrum(n);
  std::vector<float> smed(raw.size());
  running_median(raw, half_window(n), smed);
  const float s0 = std::accumulate(smed.begin(), smed.end(), 0.0f) / static_cast<float>(n);
  const MisfitBand band{s0, smed, 0.5f, 0.5f / static_cast<float>(n), 0.0f, quorvane::Fit::log};
  RedFitCache cache;
  benchmark::DoNotOptimize(red_noise_grid_fit(band, 0.7f, std::pmr::get_default_resource(), &cache));
  for (auto _ : state)
    benchmark::DoNotOptimize(red_noise_grid_fit(band, 0.7f, std::pmr::get_default_resource(), &cache));
}
BENCHMARK(BM_RedNoiseGridFitCached)->Arg(512)->Arg(4096)->Unit(benchmark::kMillisecond);

// Eigencoefficients of white noise for count entries and K = 7 tapers, with
// the eigenvalues and taper sums of tapers of p = 4.
struct Coefficients {
  Eigencoefficients y;
  std::vector<double> el{0.9999999, 0.999998, 0.99997, 0.9996, 0.996, 0.97, 0.85};
  std::vector<float> tapsum{12.0f, 0.0f, 9.5f, 0.0f, 8.1f, 0.0f, 7.0f};
  explicit Coefficients(int count) {
    std::mt19937 gen(3);
    std::normal_distribution<float> normal;
    y.resize(count, 7);
    for (float& v : y.yr) v = normal(gen);
    for (float& v : y.yi) v = normal(gen);
  }
};

void BM_AdaptiveEstimate(benchmark::State& state) {
  const Coefficients c(static_cast<int>(state.range(0)));
  std::vector<float> s(static_cast<std::size_t>(c.y.count));
  for (auto _ : state) {
    adwait(c.y, c.el, 1.0, s);
    benchmark::DoNotOptimize(s.data());
  }
}
BENCHMARK(BM_AdaptiveEstimate)->Arg(16384)->Arg(524288)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);

void BM_FTest(benchmark::State& state) {
  const Coefficients c(static_cast<int>(state.range(0)));
  std::vector<float> f(static_cast<std::size_t>(c.y.count));
  for (auto _ : state) {
    regre(c.y, c.tapsum, f);
    benchmark::DoNotOptimize(f.data());
  }
}
BENCHMARK(BM_FTest)->Arg(16384)->Arg(524288)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

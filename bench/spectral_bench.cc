// Speed of the spectrum engine: a complete analysis run (spec + findpeaks)
// with the default settings, the two taper paths on their own, and a run
// with Monte Carlo levels.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "spectral/estimators/even.h"
#include "spectral/numerics/tapers.h"
#include "spectral/stages/peaks.h"

namespace {

using namespace quorvane::spectral;

// An AR(1) series with a few sinusoids: red background and lines, as in
// climate records.
std::vector<float> test_series(int n) {
  std::mt19937 gen(42);
  std::normal_distribution<float> normal;
  std::vector<float> y(static_cast<std::size_t>(n));
  float previous = 0.0f;
  for (int t = 0; t < n; ++t) {
    previous = 0.7f * previous + normal(gen);
    y[static_cast<std::size_t>(t)] = previous + 2.0f * std::sin(0.3f * static_cast<float>(t)) +
                                     std::sin(1.1f * static_cast<float>(t));
  }
  return y;
}

// Default settings of the analysis for a series of n values, dt = 1.
SpecSettings default_settings(int n, int nwin) {
  SpecSettings s;
  s.npts = n;
  s.nwin = nwin;
  s.p = 2;
  s.dt = 1.0f;
  s.fmin = 0.0f;
  s.fmax = 0.5f;
  s.fsmooth = std::max(0.5f / 5.0f, 4.0f / static_cast<float>(n));
  return s;
}

void BM_SpecAndPeaks(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const int nwin = static_cast<int>(state.range(1));
  const std::vector<float> y = test_series(n);
  const SpecSettings s = default_settings(n, nwin);
  for (auto _ : state) {
    SpecResults r;
    const quorvane::Status status = spec(y, s, r);
    PeakList peaks = findpeaks(s.signal, r);
    benchmark::DoNotOptimize(status);
    benchmark::DoNotOptimize(peaks);
  }
}
BENCHMARK(BM_SpecAndPeaks)
    ->ArgsProduct({{1000, 8192, 32768}, {3, 8}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_Tapers(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const int nwin = static_cast<int>(state.range(1));
  const EigenPath path = state.range(2) == 0 ? EigenPath::Fast : EigenPath::Reference;
  Tapers t;
  for (auto _ : state) {
    taper2(n, nwin, 2.0f, t, path);
    benchmark::DoNotOptimize(t.v.data());
  }
  state.SetLabel(path == EigenPath::Fast ? "fast" : "reference");
}
BENCHMARK(BM_Tapers)
    ->ArgsProduct({{1000, 8192, 32768}, {3, 8}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// A whole run with Monte Carlo levels: the series and M surrogates of
// 4096 values through the default chain, shared by the given jobs.
void BM_SpecMonteCarlo(benchmark::State& state) {
  constexpr int n = 4096;
  const std::vector<float> y = test_series(n);
  SpecSettings s = default_settings(n, 3);
  s.surrogates = static_cast<int>(state.range(0));
  s.jobs = static_cast<int>(state.range(1));
  s.seed = 1;
  for (auto _ : state) {
    SpecResults r;
    const quorvane::Status status = spec(y, s, r);
    benchmark::DoNotOptimize(status);
    benchmark::DoNotOptimize(r.montecarlo_conf[3].data());
  }
}
BENCHMARK(BM_SpecMonteCarlo)
    ->Args({1000, 1})
    ->Args({1000, 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

}  // namespace

BENCHMARK_MAIN();

// A small series through the public library, one call per series: without
// a plan (tapers solved and work memory mapped on every call) and with one
// (both kept). Default settings: K = 3 tapers, background, levels, peaks.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "quorvane/batch.h"
#include "quorvane/quorvane.h"

namespace {

quorvane::Series red_series(int n) {
  std::mt19937 gen(42);
  std::normal_distribution<float> normal;
  quorvane::Series s;
  float previous = 0.0f;
  for (int t = 0; t < n; ++t) {
    previous = 0.7f * previous + normal(gen);
    s.values.push_back(previous + 2.0f * std::sin(0.3f * static_cast<float>(t)));
    s.times.push_back(static_cast<double>(t));
  }
  return s;
}

void BM_SpectrumPerCall(benchmark::State& state) {
  const quorvane::Series series = red_series(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    quorvane::Result<quorvane::Spectrum> result = quorvane::spectrum(series);
    benchmark::DoNotOptimize(result);
  }
}
BENCHMARK(BM_SpectrumPerCall)->Arg(1024)->Unit(benchmark::kMicrosecond);

void BM_SpectrumWithPlan(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const quorvane::Series series = red_series(n);
  const quorvane::Result<quorvane::SpectrumPlan> plan = quorvane::SpectrumPlan::make(n);
  if (!plan) {
    state.SkipWithError(plan.message().c_str());
    return;
  }
  for (auto _ : state) {
    quorvane::Result<quorvane::Spectrum> result = quorvane::spectrum(*plan, series);
    benchmark::DoNotOptimize(result);
  }
}
BENCHMARK(BM_SpectrumWithPlan)->Arg(1024)->Unit(benchmark::kMicrosecond);

// A block of 256 such series through the batch engine on one thread: the
// time per series (the grids' path, with no Spectrum made per series).
void BM_BatchPerSeries(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const int count = 256;
  std::vector<float> block;
  std::vector<double> times;
  for (int i = 0; i < count; ++i) {
    quorvane::Series s = red_series(n);
    // Each series its own noise: the first value moved, the rest scaled.
    for (float& v : s.values) v *= 1.0f + 0.001f * static_cast<float>(i);
    block.insert(block.end(), s.values.begin(), s.values.end());
    if (times.empty()) times = s.times;
  }
  for (auto _ : state) {
    auto result = quorvane::batch_spectra(block, count, times, quorvane::Settings{}, 1);
    benchmark::DoNotOptimize(result);
  }
  state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_BatchPerSeries)->Arg(1024)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

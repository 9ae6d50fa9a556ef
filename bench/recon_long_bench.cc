// Reconstruction of long records: five signals rebuilt with least misfit
// (K = 7, p = 4, dt = 1) from one series of red noise with two sinusoids,
// the series prepared once as the driver does; and its two parts, the
// preparation (tapers and transforms) and one signal.
#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "recon/recon.h"

namespace {

constexpr int kTapers = 7;
constexpr int kResolution = 4;
constexpr float kFrequencies[] = {0.00001f, 0.0417f, 0.1234f, 0.25f, 0.3871f};

std::vector<float> series(int n) {
  std::mt19937 generator(3);
  std::normal_distribution<float> normal(0.0f, 1.0f);
  std::vector<float> y(static_cast<std::size_t>(n));
  float red = 0.0f;
  for (int i = 0; i < n; ++i) {
    red = 0.5f * red + normal(generator);
    y[std::size_t(i)] = red + static_cast<float>(std::cos(2 * std::numbers::pi * 0.0417 * i) +
                                                 0.5 * std::sin(2 * std::numbers::pi * 0.1234 * i));
  }
  return y;
}

void prepare(benchmark::State& state, const std::vector<float>& y,
             quorvane::recon::PreparedSeries& prepared) {
  const quorvane::Status status = quorvane::recon::prepare_series(
      y, kTapers, kResolution, 1.0f, static_cast<int>(y.size()), prepared);
  if (!status) state.SkipWithError(status.message.c_str());
}

void BM_ReconFiveSignalsOfALongRecord(benchmark::State& state) {
  const int npts = static_cast<int>(state.range(0));
  const std::vector<float> y = series(npts);
  std::vector<float> rsig(y.size()), signal(y.size());
  for (auto _ : state) {
    quorvane::recon::PreparedSeries prepared;
    prepare(state, y, prepared);
    std::fill(signal.begin(), signal.end(), 0.0f);
    for (float f : kFrequencies) {
      const quorvane::Status status =
          quorvane::recon::recon(prepared, 4.0f / float(npts), f, 0, rsig);
      if (!status) state.SkipWithError(status.message.c_str());
      for (std::size_t i = 0; i < y.size(); ++i) signal[i] += rsig[i];
    }
    benchmark::DoNotOptimize(signal.data());
  }
  state.SetComplexityN(npts);
}
BENCHMARK(BM_ReconFiveSignalsOfALongRecord)
    ->RangeMultiplier(4)
    ->Range(1 << 14, 1 << 20)
    ->Arg(1000000)
    ->Complexity(benchmark::oNLogN)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

void BM_ReconPrepareALongRecord(benchmark::State& state) {
  const std::vector<float> y = series(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    quorvane::recon::PreparedSeries prepared;
    prepare(state, y, prepared);
    benchmark::DoNotOptimize(prepared.inputs.yr.data());
  }
}
BENCHMARK(BM_ReconPrepareALongRecord)->Arg(1000000)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_ReconOneSignalOfAPreparedRecord(benchmark::State& state) {
  const std::vector<float> y = series(static_cast<int>(state.range(0)));
  quorvane::recon::PreparedSeries prepared;
  prepare(state, y, prepared);
  std::vector<float> rsig(y.size());
  for (auto _ : state) {
    const quorvane::Status status =
        quorvane::recon::recon(prepared, 4.0f / float(y.size()), 0.1234f, 0, rsig);
    if (!status) state.SkipWithError(status.message.c_str());
    benchmark::DoNotOptimize(rsig.data());
  }
}
BENCHMARK(BM_ReconOneSignalOfAPreparedRecord)
    ->Arg(1000000)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

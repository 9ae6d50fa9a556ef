// Reconstruction run of a long series: five signals of an 8192-value series
// rebuilt with least misfit (three envelope passes and the weight search each).
#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "recon/recon.h"

namespace {

std::vector<float> series(int n) {
  std::mt19937 generator(3);
  std::normal_distribution<float> normal(0.0f, 1.0f);
  std::vector<float> y(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    const double t = i;
    y[std::size_t(i)] = static_cast<float>(0.001 * t + std::cos(2 * std::numbers::pi * 0.0417 * t) +
                                           0.5 * std::sin(2 * std::numbers::pi * 0.1234 * t)) +
                        normal(generator);
  }
  return y;
}

void BM_ReconFiveSignalsLeastMisfit(benchmark::State& state) {
  const int npts = 8192;
  const int nwin = static_cast<int>(state.range(0));
  const std::vector<float> y = series(npts);
  const float frequencies[] = {0.0001f, 0.0417f, 0.1234f, 0.25f, 0.3871f};
  std::vector<float> rsig(npts), signal(npts);
  for (auto _ : state) {
    std::fill(signal.begin(), signal.end(), 0.0f);
    for (float f : frequencies) {
      quorvane::Status status = quorvane::recon::recon(y, nwin, 3, 1.0f, npts, 0.0004f, f, 0, rsig);
      if (!status) state.SkipWithError(status.message.c_str());
      for (int i = 0; i < npts; ++i) signal[std::size_t(i)] += rsig[std::size_t(i)];
    }
    benchmark::DoNotOptimize(signal.data());
  }
}
BENCHMARK(BM_ReconFiveSignalsLeastMisfit)->Arg(5)->Arg(16)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

// Speed and memory of complete default runs of the missing-data estimator
// (tapers of the samples present solved in the run, eigencoefficients,
// persistence time, adaptive estimate, F-test, robust red-noise background,
// reshaping, peaks), K = 7 tapers of resolution 4, on records with 10 % of
// their samples missing at random and one gap of a tenth of the record:
// AR(1) noise of coefficient 0.6 and two sines. The counter peak_MB is the
// process's peak resident memory during the measured runs, record
// included; iterations counts the solver's subspace iterations.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "bench/peak_memory.h"
#include "spectral/estimators/gaps.h"
#include "spectral/significance/surrogates.h"
#include "spectral/stages/peaks.h"

namespace {

using namespace quorvane::spectral;

void BM_GapsDefaultRun(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  RandomStream random(13, 0);
  std::vector<float> full(static_cast<std::size_t>(n));
  ar1_surrogate(0.6, 1.0, random, full);
  std::vector<std::int64_t> index;
  std::vector<float> y;
  for (int t = 0; t < n; ++t) {
    const bool in_gap = t >= n / 2 && t < n / 2 + n / 10;
    if (t == 0 || t == n - 1 || (!in_gap && random.uniform() >= 0.1)) {
      index.push_back(t);
      y.push_back(full[static_cast<std::size_t>(t)] +
                  static_cast<float>(0.3 * std::sin(0.7771 * t) + 0.3 * std::sin(2.9 * t)));
    }
  }
  SpecSettings s;
  s.npts = n;
  s.nwin = 7;
  s.p = 4;
  quorvane::bench::reset_peak_memory();
  int iterations = 0;
  for (auto _ : state) {
    GapsPlan plan;
    SpecResults out;
    quorvane::Status status = GapsPlan::make(index, s, plan);
    if (status) status = plan.run(y, s, out);
    if (!status) state.SkipWithError(status.message.c_str());
    iterations = plan.tapers().iterations;
    PeakList peaks = findpeaks(s.signal, out);
    benchmark::DoNotOptimize(peaks);
  }
  state.counters["peak_MB"] = quorvane::bench::peak_memory_mb();
  state.counters["iterations"] = iterations;
  state.SetComplexityN(n);
}
BENCHMARK(BM_GapsDefaultRun)
    ->RangeMultiplier(10)
    ->Range(10000, 1000000)
    ->Complexity(benchmark::oNLogN)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

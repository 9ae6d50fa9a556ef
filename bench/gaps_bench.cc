// Speed and memory of complete default runs of the missing-data estimator
// (tapers of the samples present solved in the run, eigencoefficients,
// persistence time, adaptive estimate, F-test, robust red-noise background,
// reshaping, peaks), K = 7 tapers of resolution 4, on records with 10 % of
// their samples missing at random and one gap of a tenth of the record:
// AR(1) noise of coefficient 0.6 and two sines. The counter peak_MB is the
// process's peak resident memory during the measured runs, record
// included; iterations counts the solver's subspace iterations. The
// solver's threads follow the jobs argument; beside it, the uneven path on
// the same samples.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <vector>

#include "bench/peak_memory.h"
#include "spectral/estimators/gaps.h"
#include "spectral/estimators/uneven.h"
#include "spectral/significance/surrogates.h"
#include "spectral/stages/peaks.h"

namespace {

using namespace quorvane::spectral;

// The record of n grid positions: 10 % of the samples missing at random and
// one gap of a tenth of the record.
struct GappyRecord {
  std::vector<std::int64_t> index;
  std::vector<double> time;
  std::vector<float> y;
};

GappyRecord gappy_record(int n) {
  RandomStream random(13, 0);
  std::vector<float> full(static_cast<std::size_t>(n));
  ar1_surrogate(0.6, 1.0, random, full);
  GappyRecord r;
  for (int t = 0; t < n; ++t) {
    const bool in_gap = t >= n / 2 && t < n / 2 + n / 10;
    if (t == 0 || t == n - 1 || (!in_gap && random.uniform() >= 0.1)) {
      r.index.push_back(t);
      r.time.push_back(static_cast<double>(t));
      r.y.push_back(full[static_cast<std::size_t>(t)] +
                    static_cast<float>(0.3 * std::sin(0.7771 * t) + 0.3 * std::sin(2.9 * t)));
    }
  }
  // For a peer's timing on the very same samples (bench/peers/astropy_gaps.py).
  if (const char* path = std::getenv("QUORVANE_GAPPY_RECORD")) {
    std::ofstream out(path);
    out.precision(9);
    for (std::size_t j = 0; j < r.index.size(); ++j) out << r.time[j] << ' ' << r.y[j] << '\n';
  }
  return r;
}

// Arguments: n, jobs.
void BM_GapsDefaultRun(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const GappyRecord record = gappy_record(n);
  SpecSettings s;
  s.npts = n;
  s.nwin = 7;
  s.p = 4;
  s.jobs = static_cast<int>(state.range(1));
  quorvane::bench::reset_peak_memory();
  int iterations = 0;
  for (auto _ : state) {
    GapsPlan plan;
    SpecResults out;
    quorvane::Status status = GapsPlan::make(record.index, s, plan);
    if (status) status = plan.run(record.y, s, out);
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
    ->ArgsProduct({{10000, 100000, 1000000}, {1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_GapsDefaultRun)->Args({1000000, 2})->Unit(benchmark::kMillisecond)->UseRealTime();

// The same samples as a record with uneven steps (the missing positions
// simply absent): the yardstick of the missing-data run.
void BM_SameSamplesUneven(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const GappyRecord record = gappy_record(n);
  SpecSettings s;
  s.npts = static_cast<int>(record.y.size());
  s.dt = 1.0f;
  s.nwin = 7;
  s.p = 4;
  for (auto _ : state) {
    SpecResults out;
    const quorvane::Status status = spec_uneven(record.time, record.y, s, out);
    if (!status) state.SkipWithError(status.message.c_str());
    PeakList peaks = findpeaks(s.signal, out);
    benchmark::DoNotOptimize(peaks);
  }
}
BENCHMARK(BM_SameSamplesUneven)->Arg(1000000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

// Speed and memory of complete default runs (adaptive estimate, robust
// red-noise background, log misfit, F-test, reshaping, peaks) on long
// records, in three ways:
// - fresh: tapers computed and memory mapped and touched in the run;
// - cold: tapers computed in the run, within a session that keeps the run
//   memory of the previous run (as a program analysing many series does);
// - kept: within a session that keeps both tapers and memory (the same
//   series analysed again).
// The counter peak_MB is the process's peak resident memory during the
// measured runs, series included.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "bench/peak_memory.h"
#include "spectral/estimators/even.h"
#include "spectral/stages/peaks.h"

namespace {

using namespace quorvane::spectral;
using quorvane::bench::peak_memory_mb;
using quorvane::bench::reset_peak_memory;

std::vector<float> red_noise_with_lines(int n) {
  std::mt19937 gen(7);
  std::normal_distribution<float> normal;
  std::vector<float> y(static_cast<std::size_t>(n));
  float previous = 0.0f;
  for (int t = 0; t < n; ++t) {
    previous = 0.7f * previous + normal(gen);
    y[static_cast<std::size_t>(t)] = previous + 0.1f * std::sin(0.7771f * static_cast<float>(t));
  }
  return y;
}

SpecSettings settings(int n, int nwin, int p) {
  SpecSettings s;
  s.npts = n;
  s.nwin = nwin;
  s.p = p;
  s.fsmooth = 0.1f;
  return s;
}

enum class Mode { Fresh, Cold, Kept };

void run(benchmark::State& state, int n, int nwin, int p, Mode mode) {
  const std::vector<float> y = red_noise_with_lines(n);
  const SpecSettings s = settings(n, nwin, p);
  SpecSession session;
  if (mode != Mode::Fresh) {
    SpecResults first;
    if (!spec(y, s, session, first)) state.SkipWithError("refused");
  }
  reset_peak_memory();
  for (auto _ : state) {
    SpecResults r;
    if (mode == Mode::Cold) session.forget_tapers();
    const quorvane::Status status = mode == Mode::Fresh ? spec(y, s, r) : spec(y, s, session, r);
    PeakList peaks = findpeaks(s.signal, r);
    benchmark::DoNotOptimize(status);
    benchmark::DoNotOptimize(peaks);
  }
  state.counters["peak_MB"] = peak_memory_mb();
  state.SetComplexityN(n);
}

void BM_LongRecordFresh(benchmark::State& state) {
  run(state, static_cast<int>(state.range(0)), 7, 4, Mode::Fresh);
}
BENCHMARK(BM_LongRecordFresh)
    ->RangeMultiplier(2)
    ->Range(1 << 14, 1 << 22)
    ->Complexity(benchmark::oNLogN)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_LongRecordKept(benchmark::State& state) {
  run(state, static_cast<int>(state.range(0)), 7, 4, Mode::Kept);
}
BENCHMARK(BM_LongRecordKept)
    ->RangeMultiplier(2)
    ->Range(1 << 14, 1 << 22)
    ->Complexity(benchmark::oNLogN)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// A million values with K = 7, and 32768 values with K = 8 (p = 4 both),
// each fresh (0), cold (1) and kept (2).
void BM_MillionValues(benchmark::State& state) {
  run(state, 1000000, 7, 4, static_cast<Mode>(state.range(0)));
}
BENCHMARK(BM_MillionValues)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_32768ValuesEightTapers(benchmark::State& state) {
  run(state, 32768, 8, 4, static_cast<Mode>(state.range(0)));
}
BENCHMARK(BM_32768ValuesEightTapers)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

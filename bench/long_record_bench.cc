// Speed and memory of complete default runs (adaptive estimate, robust
// red-noise background, log misfit, F-test, reshaping, peaks) on long
// records: cold (tapers computed and memory touched in the run), and
// within a session that keeps the tapers and memory of the previous run.
// The counter peak_MB is the process's peak resident memory during the
// measured runs, series included.
#include <benchmark/benchmark.h>

#include <cmath>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "spectral/spectrum.h"

namespace {

using namespace quorvane::spectral;

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

// Linux keeps the peak resident size; writing 5 to clear_refs resets it.
void reset_peak_memory() { std::ofstream("/proc/self/clear_refs") << "5"; }

double peak_memory_mb() {
  std::ifstream status("/proc/self/status");
  for (std::string key; status >> key;) {
    if (key == "VmHWM:") {
      double kib = 0.0;
      status >> kib;
      return kib / 1024.0;
    }
  }
  return 0.0;
}

void run(benchmark::State& state, int n, int nwin, int p, bool session_kept) {
  const std::vector<float> y = red_noise_with_lines(n);
  const SpecSettings s = settings(n, nwin, p);
  SpecSession session;
  if (session_kept) {
    SpecResults first;
    if (!spec(y, s, session, first)) state.SkipWithError("refused");
  }
  reset_peak_memory();
  for (auto _ : state) {
    SpecResults r;
    const quorvane::Status status = session_kept ? spec(y, s, session, r) : spec(y, s, r);
    PeakList peaks = findpeaks(s.isignal, r);
    benchmark::DoNotOptimize(status);
    benchmark::DoNotOptimize(peaks);
  }
  state.counters["peak_MB"] = peak_memory_mb();
  state.SetComplexityN(n);
}

void BM_LongRecordCold(benchmark::State& state) {
  run(state, static_cast<int>(state.range(0)), 7, 4, false);
}
BENCHMARK(BM_LongRecordCold)
    ->RangeMultiplier(2)
    ->Range(1 << 14, 1 << 22)
    ->Complexity(benchmark::oNLogN)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_LongRecordSession(benchmark::State& state) {
  run(state, static_cast<int>(state.range(0)), 7, 4, true);
}
BENCHMARK(BM_LongRecordSession)
    ->RangeMultiplier(2)
    ->Range(1 << 14, 1 << 22)
    ->Complexity(benchmark::oNLogN)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The figures the issue names: a million values with K = 7, and 32768
// values with K = 8 (p = 4 both).
void BM_MillionValues(benchmark::State& state) { run(state, 1000000, 7, 4, state.range(0) == 1); }
BENCHMARK(BM_MillionValues)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_32768ValuesEightTapers(benchmark::State& state) {
  run(state, 32768, 8, 4, state.range(0) == 1);
}
BENCHMARK(BM_32768ValuesEightTapers)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

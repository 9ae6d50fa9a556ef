// The cross-spectrum of a long pair: 2^20 values, K = 7 tapers at
// resolution 4, the whole band, with the tapers computed in every run:
// the equal-weight (hires) estimate with its analytic levels, and the
// adaptive one with 9 surrogate pairs (the cost of a surrogate pair is the
// adaptive run less the tapers, divided by 9), with one and two jobs.
// bench/peers/nitime_coherence.py times nitime's multitaper coherence on
// the same pair.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "spectral/analyses/coherence.h"

namespace {

constexpr int kValues = 1 << 20;

// AR(1) noise in each record and a line at 0.1 cycles per value that B
// carries 3 values later, as the peer script makes them.
void pair(std::vector<float>& a, std::vector<float>& b) {
  std::mt19937 gen(5);
  std::normal_distribution<float> normal;
  a.resize(kValues);
  b.resize(kValues);
  float pa = 0.0f, pb = 0.0f;
  for (int t = 0; t < kValues; ++t) {
    pa = 0.5f * pa + normal(gen);
    pb = 0.5f * pb + normal(gen);
    a[static_cast<std::size_t>(t)] = pa + static_cast<float>(std::sin(2 * M_PI * 0.1 * t));
    b[static_cast<std::size_t>(t)] = pb + static_cast<float>(std::sin(2 * M_PI * 0.1 * (t - 3)));
  }
}

void BM_Coherence(benchmark::State& state) {
  std::vector<float> a, b;
  pair(a, b);
  quorvane::spectral::CoherenceSettings s;
  s.nwin = 7;
  s.p = 4;
  s.adaptive = state.range(0) == 1;
  s.surrogates = s.adaptive ? 9 : 0;
  s.jobs = static_cast<int>(state.range(1));
  quorvane::spectral::CoherenceResult r;
  for (auto _ : state) {
    if (const quorvane::Status status = quorvane::spectral::coherence(a, b, s, r); !status)
      state.SkipWithError(status.message.c_str());
    benchmark::DoNotOptimize(r.coherence.data());
  }
  state.counters["coherent"] = static_cast<double>(r.coherent.size());
}
BENCHMARK(BM_Coherence)
    ->ArgNames({"adaptive", "jobs"})
    ->Args({0, 1})
    ->Args({0, 2})
    ->Args({1, 1})
    ->Args({1, 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

}  // namespace

BENCHMARK_MAIN();

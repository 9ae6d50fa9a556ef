// Speed of the fast Slepian taper path at the lengths long records bring:
// the default taper set of a moderate series and of a million-value record.
// Each iteration computes the tapers from nothing (cold), as the first
// analysis of a series does.
#include <benchmark/benchmark.h>

#include "spectral/numerics/tapers.h"

namespace {

using namespace quorvane::spectral;

void BM_TapersLong(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const int nwin = static_cast<int>(state.range(1));
  const auto npi = static_cast<float>(state.range(2));
  Tapers t;
  for (auto _ : state) {
    taper2(n, nwin, npi, t, EigenPath::Fast);
    benchmark::DoNotOptimize(t.v.data());
  }
}
BENCHMARK(BM_TapersLong)
    ->Args({32768, 8, 4})
    ->Args({1000000, 7, 4})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

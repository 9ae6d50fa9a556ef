// Speed of the transform of a tapered real series: one plan, many
// transforms, as the spectrum engine and the reconstruction use it.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstddef>
#include <random>
#include <vector>

#include "spectral/numerics/fft.h"

namespace {

using namespace quorvane::spectral;

// A series of count values under a sine taper, transformed at length nn,
// on one thread or (second argument 1) shared by two.
void BM_TransformReal(benchmark::State& state) {
  const std::size_t nn = static_cast<std::size_t>(state.range(0));
  const bool two_threads = state.range(1) != 0;
  const std::size_t count = nn - nn / 20;  // padded, as a series usually is
  std::mt19937 gen(7);
  std::normal_distribution<float> normal;
  std::vector<float> x(count), taper(count);
  for (std::size_t t = 0; t < count; ++t) {
    x[t] = normal(gen);
    taper[t] = static_cast<float>(
        std::sin(3.14159265358979 * (static_cast<double>(t) + 0.5) / static_cast<double>(count)));
  }
  const FftPlan plan(nn);
  std::vector<double> xr(nn), xi(nn);
  for (auto _ : state) {
    plan.transform_real(
        count, [&](std::size_t t) { return static_cast<double>(taper[t] * x[t]); }, xr, xi,
        two_threads);
    benchmark::DoNotOptimize(xr.data());
    benchmark::DoNotOptimize(xi.data());
    benchmark::ClobberMemory();
  }
  state.SetComplexityN(static_cast<long long>(nn));
}
BENCHMARK(BM_TransformReal)
    ->ArgsProduct({benchmark::CreateRange(1 << 10, 1 << 20, 32), {0}})
    ->Unit(benchmark::kMicrosecond)
    ->Complexity(benchmark::oNLogN);
BENCHMARK(BM_TransformReal)->Args({1 << 20, 1})->Unit(benchmark::kMicrosecond)->UseRealTime();

// Setting up a plan: done once per run and length.
void BM_PlanSetup(benchmark::State& state) {
  const std::size_t nn = static_cast<std::size_t>(state.range(0));
  for (auto _ : state) {
    const FftPlan plan(nn);
    benchmark::DoNotOptimize(&plan);
  }
}
BENCHMARK(BM_PlanSetup)->Arg(1 << 15)->Arg(1 << 20)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();

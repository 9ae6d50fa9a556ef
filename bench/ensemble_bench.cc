// Speed of ensemble spectra: one record of 2,000 samples analysed on 250,
// 500 and 1,000 chronologies of the banded age model (miscount 0.05 a
// step), K = 5 tapers of resolution 3, every member a complete default run
// of the uneven estimator (plan, estimate, F-test, robust red-noise
// background) on one grid, and the summaries; jobs threads share the
// members. The time should grow linearly with the members.
// With QUORVANE_ENSEMBLE_DUMP naming a file, the record and its 1,000
// chronologies are written there (the sample and member counts as two
// 64-bit integers, then the values and the ages row by row as doubles), so
// that a peer (bench/peers/astropy_ensemble.py) runs on the same members.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <vector>

#include "spectral/analyses/ensemble.h"
#include "spectral/significance/surrogates.h"

namespace {

using namespace quorvane::spectral;

constexpr int kSamples = 2000;

struct Core {
  std::vector<double> age;
  std::vector<float> y;
};

Core core() {
  Core c;
  RandomStream random(21, 0);
  c.age.resize(kSamples);
  for (std::size_t j = 1; j < c.age.size(); ++j) c.age[j] = c.age[j - 1] + 1.5 + 2.0 * random.uniform();
  c.y.resize(c.age.size());
  ar1_surrogate_on_times(c.age, 3.0, 1.0, random, c.y);
  for (std::size_t j = 0; j < c.y.size(); ++j)
    c.y[j] += static_cast<float>(std::sin(6.283185307179586 * c.age[j] / 41.0) +
                                 std::sin(6.283185307179586 * c.age[j] / 23.0));
  return c;
}

void dump(const Core& c, const AgeEnsemble& ages, const char* path) {
  std::ofstream out(path, std::ios::binary);
  const std::int64_t counts[2] = {static_cast<std::int64_t>(ages.samples),
                                  static_cast<std::int64_t>(ages.members)};
  out.write(reinterpret_cast<const char*>(counts), sizeof counts);
  for (float v : c.y) {
    const double value = v;
    out.write(reinterpret_cast<const char*>(&value), sizeof value);
  }
  out.write(reinterpret_cast<const char*>(ages.ages.data()),
            static_cast<std::streamsize>(ages.ages.size() * sizeof(double)));
}

void BM_Ensemble(benchmark::State& state) {
  const Core c = core();
  AgeEnsemble ages;
  if (!counted_ages(c.age, 0.05, 0.05, static_cast<std::size_t>(state.range(0)), 1, ages).ok) {
    state.SkipWithError("no age model");
    return;
  }
  if (const char* path = std::getenv("QUORVANE_ENSEMBLE_DUMP"); path && state.range(0) == 1000)
    dump(c, ages, path);
  SpecSettings s;
  s.nwin = 5;
  s.p = 3;
  s.fsmooth = 0.02f;
  EnsembleOptions options;
  options.jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  EnsembleResult result;
  for (auto _ : state) {
    if (!ensemble_spectrum(ages, c.y, s, options, result).ok) {
      state.SkipWithError("refused");
      return;
    }
    benchmark::DoNotOptimize(result.quantiles[2].data());
  }
  state.counters["members"] = static_cast<double>(result.members);
  state.counters["frequencies"] = static_cast<double>(result.entries);
  state.counters["lines"] = static_cast<double>(result.lines.size());
}
BENCHMARK(BM_Ensemble)->Arg(250)->Arg(500)->Arg(1000)->Unit(benchmark::kSecond)->Iterations(1)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

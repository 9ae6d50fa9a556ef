// Speed of evolutive spectra over a long record with uneven steps against
// the evenly spaced record of the same length: 10^6 samples, windows of
// 4096 median steps moved by a quarter of that, K = 7 tapers of resolution
// 4, each window's F-test and background, on two jobs. The uneven record's
// steps are spread evenly over 0.5 .. 1.5, so every window makes its own
// plan (tapers at its times, non-uniform transforms). The gappy record
// misses every tenth sample, a pattern that repeats, so its windows share
// one plan. With QUORVANE_EVOLVE_RECORD naming a file, the uneven record's
// (time, value) lines are written there, so that a peer
// (bench/peers/astropy_evolve.py) can be timed on the very same windows.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "spectral/analyses/evolutive.h"
#include "spectral/sampling.h"
#include "spectral/significance/surrogates.h"

namespace {

using namespace quorvane::spectral;

constexpr int kSamples = 1000000, kWindow = 4096, kStep = kWindow / 4;

struct Record {
  std::vector<double> time;
  std::vector<float> y;
  Sampling sampling;
};

Record record(int kind) {
  Record r;
  RandomStream random(13, 0);
  double t = 0.0;
  for (int j = 0; static_cast<int>(r.time.size()) < kSamples; ++j) {
    if (kind == 1) t = j;
    if (kind == 2) t += 0.5 + random.uniform();
    if (kind == 3 && j % 10 == 9) continue;
    if (kind == 3) t = j;
    r.time.push_back(t);
  }
  r.y.resize(r.time.size());
  ar1_surrogate_on_times(r.time, 3.0, 1.0, random, r.y);
  for (std::size_t j = 0; j < r.y.size(); ++j)
    r.y[j] += static_cast<float>(0.3 * std::sin(0.7771 * r.time[j]));
  if (!sampling_of(r.time, r.sampling)) std::abort();
  return r;
}

SpecSettings settings_for(const Record& r) {
  SpecSettings s;
  s.npts = kWindow;
  s.nwin = 7;
  s.p = 4;
  s.dt = static_cast<float>(r.sampling.median_step);
  s.fmax = 0.5f / s.dt;
  return s;
}

void BM_Evolve(benchmark::State& state) {
  const Record r = record(static_cast<int>(state.range(0)));
  const SpecSettings s = settings_for(r);
  if (const char* path = std::getenv("QUORVANE_EVOLVE_RECORD"); path && state.range(0) == 2) {
    if (std::FILE* out = std::fopen(path, "w")) {
      for (std::size_t j = 0; j < r.time.size(); ++j)
        std::fprintf(out, "%.17g %.9g\n", r.time[j], static_cast<double>(r.y[j]));
      std::fclose(out);
    }
  }
  std::size_t windows = 0;
  const auto count = [&](const EvolutiveRow&) {
    ++windows;
    return quorvane::Status::success();
  };
  for (auto _ : state) {
    windows = 0;
    const quorvane::Status status =
        state.range(0) == 1
            ? evolutive_spectrum(r.y, kWindow, kStep, s, 2, count)
            : evolutive_on_times(r.time, r.y, r.sampling, kWindow, kStep, 2 * s.nwin + 2, s, 2,
                                 count);
    if (!status) state.SkipWithError(status.message.c_str());
  }
  state.counters["windows"] = static_cast<double>(windows);
}
// 1: evenly spaced, 2: uneven steps, 3: every tenth sample missing.
BENCHMARK(BM_Evolve)->Arg(1)->Arg(2)->Arg(3)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace

BENCHMARK_MAIN();

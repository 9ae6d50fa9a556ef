// The cross-spectrum of a pair of 10^5 values each, K = 7 tapers at
// resolution 4, the whole band, analytic levels, tapers computed in every
// run: an evenly spaced pair on one grid (BM_EvenPair) against a pair each
// on its own jittered times, steps spread over 0.5 .. 1.5 (BM_UnevenPair),
// which takes the span's tapers at each record's times and two sets of
// non-uniform transforms. BM_UnevenPairFile analyses the pair of the files
// named by QUORVANE_PAIR_A and QUORVANE_PAIR_B (time and value a line), so
// that bench/peers/astropy_pair.py times astropy's LombScargle on the very
// same records.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <random>
#include <vector>

#include "spectral/analyses/coherence.h"

namespace {

using quorvane::spectral::CoherenceResult;
using quorvane::spectral::CoherenceSettings;

constexpr int kValues = 100000;

// AR(1) noise on the record's steps and a line at 0.1 that B carries 3
// time units later; `jitter`: steps uniform on 0.5 .. 1.5, else 1.
void record(unsigned seed, bool jitter, double lag, std::vector<double>& t, std::vector<float>& y) {
  std::mt19937 gen(seed);
  std::normal_distribution<double> normal;
  std::uniform_real_distribution<double> uniform(0.5, 1.5);
  t.resize(kValues);
  y.resize(kValues);
  double now = 0.0, noise = 0.0;
  for (std::size_t j = 0; j < t.size(); ++j) {
    const double step = jitter ? uniform(gen) : 1.0;
    now += step;
    const double a = std::exp(-step / 2.0);
    noise = a * noise + std::sqrt(1.0 - a * a) * normal(gen);
    t[j] = now;
    y[j] = static_cast<float>(noise + std::sin(2 * M_PI * 0.1 * (now - lag)));
  }
}

CoherenceSettings settings() {
  CoherenceSettings s;
  s.nwin = 7;
  s.p = 4;
  s.dt = 1.0f;
  s.fmax = 0.5f;
  return s;
}

void BM_EvenPair(benchmark::State& state) {
  std::vector<double> ta, tb;
  std::vector<float> a, b;
  record(1, false, 0.0, ta, a);
  record(2, false, 3.0, tb, b);
  CoherenceResult r;
  for (auto _ : state) {
    if (const quorvane::Status status = quorvane::spectral::coherence(a, b, settings(), r); !status)
      state.SkipWithError(status.message.c_str());
    benchmark::DoNotOptimize(r.coherence.data());
  }
}
BENCHMARK(BM_EvenPair)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void run_timed(benchmark::State& state, const std::vector<double>& ta, const std::vector<float>& a,
               const std::vector<double>& tb, const std::vector<float>& b, float dt) {
  CoherenceSettings s = settings();
  s.dt = dt;
  s.fmax = 0.5f / dt;
  CoherenceResult r;
  quorvane::spectral::TimedPair pair;
  for (auto _ : state) {
    if (const quorvane::Status status =
            quorvane::spectral::coherence_on_times(ta, a, tb, b, s, r, pair);
        !status)
      state.SkipWithError(status.message.c_str());
    benchmark::DoNotOptimize(r.coherence.data());
  }
  state.counters["frequencies"] = r.count;
}

void BM_UnevenPair(benchmark::State& state) {
  std::vector<double> ta, tb;
  std::vector<float> a, b;
  record(1, true, 0.0, ta, a);
  record(2, true, 3.0, tb, b);
  run_timed(state, ta, a, tb, b, 1.0f);
}
BENCHMARK(BM_UnevenPair)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

bool read_record(const char* path, std::vector<double>& t, std::vector<float>& y) {
  if (path == nullptr) return false;
  std::ifstream in(path);
  double time = 0.0, value = 0.0;
  while (in >> time >> value) {
    t.push_back(time);
    y.push_back(static_cast<float>(value));
  }
  return t.size() > 1;
}

void BM_UnevenPairFile(benchmark::State& state) {
  std::vector<double> ta, tb;
  std::vector<float> a, b;
  if (!read_record(std::getenv("QUORVANE_PAIR_A"), ta, a) ||
      !read_record(std::getenv("QUORVANE_PAIR_B"), tb, b)) {
    state.SkipWithError("QUORVANE_PAIR_A and QUORVANE_PAIR_B name no records");
    for (auto _ : state) {
    }
    return;
  }
  const char* step = std::getenv("QUORVANE_PAIR_STEP");
  run_timed(state, ta, a, tb, b, step != nullptr ? std::strtof(step, nullptr) : 1.0f);
}
BENCHMARK(BM_UnevenPairFile)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

BENCHMARK_MAIN();

// Speed and memory of complete default runs of the estimator of records with
// uneven steps (plan made in the run: tapers at the times, non-uniform
// transforms, persistence time, adaptive estimate, F-test, robust red-noise
// background, reshaping, peaks), K = 7 tapers of resolution 4, on records
// whose steps are spread evenly over 0.5 .. 1.5, AR(1) noise of
// persistence time 3 on those times and two sines.
// The counter peak_MB is the process's peak resident memory during the
// measured runs, record included.
// With QUORVANE_UNEVEN_RECORD naming a file of (time, value) lines,
// BM_UnevenRecordFile runs the same analysis on that record, so that a peer
// (bench/peers/astropy_uneven.py) can be timed on the very same times.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "spectral/estimators/uneven.h"
#include "spectral/significance/surrogates.h"
#include "spectral/stages/peaks.h"

namespace {

using namespace quorvane::spectral;

struct Record {
  std::vector<double> time;
  std::vector<float> y;
};

Record jittered_record(int n) {
  Record r{std::vector<double>(static_cast<std::size_t>(n)), std::vector<float>(static_cast<std::size_t>(n))};
  RandomStream random(11, 0);
  for (std::size_t j = 1; j < r.time.size(); ++j) r.time[j] = r.time[j - 1] + 0.5 + random.uniform();
  ar1_surrogate_on_times(r.time, 3.0, 1.0, random, r.y);
  for (std::size_t j = 0; j < r.y.size(); ++j) {
    r.y[j] += static_cast<float>(0.3 * std::sin(0.7771 * r.time[j]) + 0.3 * std::sin(2.9 * r.time[j]));
  }
  return r;
}

Record file_record(const char* path) {
  Record r;
  std::ifstream in(path);
  for (double t = 0.0, v = 0.0; in >> t >> v;) {
    r.time.push_back(t);
    r.y.push_back(static_cast<float>(v));
  }
  return r;
}

SpecSettings settings_for(const Record& r) {
  std::vector<double> steps(r.time.size() - 1);
  for (std::size_t j = 0; j < steps.size(); ++j) steps[j] = r.time[j + 1] - r.time[j];
  std::nth_element(steps.begin(), steps.begin() + steps.size() / 2, steps.end());
  SpecSettings s;
  s.npts = static_cast<int>(r.y.size());
  s.nwin = 7;
  s.p = 4;
  s.dt = static_cast<float>(steps[steps.size() / 2]);
  s.fmax = 0.5f / s.dt;
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

void run(benchmark::State& state, const Record& r) {
  if (r.time.size() < 16) {
    state.SkipWithError("no record");
    return;
  }
  const SpecSettings s = settings_for(r);
  reset_peak_memory();
  for (auto _ : state) {
    SpecResults out;
    const quorvane::Status status = spec_uneven(r.time, r.y, s, out);
    if (!status) state.SkipWithError(status.message.c_str());
    PeakList peaks = findpeaks(s.signal, out);
    benchmark::DoNotOptimize(peaks);
  }
  state.counters["peak_MB"] = peak_memory_mb();
  state.SetComplexityN(static_cast<benchmark::IterationCount>(r.time.size()));
}

void BM_UnevenDefaultRun(benchmark::State& state) {
  run(state, jittered_record(static_cast<int>(state.range(0))));
}
BENCHMARK(BM_UnevenDefaultRun)
    ->RangeMultiplier(10)
    ->Range(10000, 1000000)
    ->Complexity(benchmark::oNLogN)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_UnevenRecordFile(benchmark::State& state) {
  const char* path = std::getenv("QUORVANE_UNEVEN_RECORD");
  run(state, path != nullptr ? file_record(path) : Record{});
}
BENCHMARK(BM_UnevenRecordFile)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

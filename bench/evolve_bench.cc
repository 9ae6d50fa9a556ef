// Evolutive spectra of a long record: 10^6 values, windows of 4096 values
// 1024 apart (974 windows), K = 7 tapers at resolution 4, the settings
// analyse gives a stretch of 4096 values otherwise. Measured with one and
// two jobs, for the engine alone (rows delivered and dropped) and for the
// whole command (reading a single-column file, the three matrices and the
// tracks written). peak_MB is the process's peak resident memory during the
// measured runs, the record included. bench/peers/nitime_evolve.py times
// nitime's multitaper spectrum over the same windows.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "bench/peak_memory.h"
#include "cli/batch.h"
#include "cli/series_run.h"
#include "spectral/analyses/evolutive.h"

namespace {

namespace fs = std::filesystem;
using quorvane::bench::peak_memory_mb;
using quorvane::bench::reset_peak_memory;

constexpr int kValues = 1000000, kWindow = 4096, kStep = 1024;

// AR(1) noise with a line whose frequency drifts from 0.1 to 0.2.
std::vector<float> drifting_line(int n) {
  std::mt19937 gen(11);
  std::normal_distribution<float> normal;
  std::vector<float> y(static_cast<std::size_t>(n));
  float previous = 0.0f;
  double phase = 0.0;
  for (int t = 0; t < n; ++t) {
    previous = 0.5f * previous + normal(gen);
    phase += 2.0 * M_PI * (0.1 + 0.1 * t / n);
    y[static_cast<std::size_t>(t)] = previous + static_cast<float>(std::sin(phase));
  }
  return y;
}

void BM_EvolutiveEngine(benchmark::State& state) {
  const std::vector<float> y = drifting_line(kValues);
  quorvane::cli::AnalysisOptions options;
  options.resolution = 4;
  quorvane::api::AnalysisRecord r;
  const quorvane::Status applied = quorvane::cli::analysis_settings(
      std::vector<float>(y.begin(), y.begin() + kWindow), 1.0f, options, r);
  if (!applied) state.SkipWithError(applied.message.c_str());
  const quorvane::spectral::SpecSettings settings = quorvane::api::spec_settings(r);
  const int jobs = static_cast<int>(state.range(0));
  reset_peak_memory();
  std::size_t lines = 0;
  for (auto _ : state) {
    const quorvane::Status status = quorvane::spectral::evolutive_spectrum(
        y, kWindow, kStep, settings, jobs, [&](const quorvane::spectral::EvolutiveRow& row) {
          lines += row.lines.size();
          return quorvane::Status::success();
        });
    if (!status) state.SkipWithError(status.message.c_str());
  }
  benchmark::DoNotOptimize(lines);
  state.counters["peak_MB"] = peak_memory_mb();
  state.counters["windows"] =
      static_cast<double>(quorvane::spectral::evolutive_window_count(y.size(), kWindow, kStep));
}
BENCHMARK(BM_EvolutiveEngine)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_EvolveCommand(benchmark::State& state) {
  const fs::path folder =
      fs::temp_directory_path() / ("quorvane_evolve_bench_" + std::to_string(::getpid()));
  fs::create_directories(folder);
  const fs::path file = folder / "drift.dat";
  {
    std::ofstream out(file);
    out << "drift\n1\n";
    for (float v : drifting_line(kValues)) out << v << '\n';
  }
  const std::vector<std::string> args = {
      "evolve", file.string(), "--layout", "single", "--window", std::to_string(kWindow),
      "--step", std::to_string(kStep), "--resolution", "4", "--jobs",
      std::to_string(state.range(0)), "--out", (folder / "results").string(), "--quiet"};
  reset_peak_memory();
  for (auto _ : state) {
    std::ostringstream out, err;
    if (quorvane::cli::run_command_line(args, out, err) != 0)
      state.SkipWithError(err.str().c_str());
  }
  state.counters["peak_MB"] = peak_memory_mb();
  fs::remove_all(folder);
}
BENCHMARK(BM_EvolveCommand)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

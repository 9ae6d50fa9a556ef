// `quorvane analyse --series all` on a raw ring-width file of 30 cores
// (150 to 440 years each), with one and with two jobs: reading the file,
// every spectrum, the peaks and the result files. The spectrum file of a
// long record written as CSV and as NetCDF-4, and the whole `analyse` of a
// record of 10^6 values (K = 7) with each: the CSV run should take at most
// 1.3 times the NetCDF one.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/batch.h"
#include "cli/files.h"
#include "cli/netcdf_file.h"
#include "tests/cli/ring_width_file.h"

namespace {

namespace fs = std::filesystem;
using quorvane::cli::testing::Core;

fs::path thirty_cores(const fs::path& folder) {
  std::vector<Core> cores;
  for (int k = 0; k < 30; ++k) {
    const std::string id = "QRV" + std::to_string(100 + k);
    cores.push_back(quorvane::cli::testing::synthetic_core(id, 1560 + 7 * k, 150 + 10 * k,
                                                           9.0f + static_cast<float>(k % 7),
                                                           static_cast<unsigned>(k + 1)));
  }
  fs::create_directories(folder);
  const fs::path file = folder / "cores.rwl";
  std::ofstream out(file);
  quorvane::cli::testing::write_ring_widths(out, cores);
  return file;
}

void BM_AnalyseAllSeries(benchmark::State& state) {
  const fs::path folder =
      fs::temp_directory_path() / ("quorvane_cli_bench_" + std::to_string(::getpid()));
  const fs::path file = thirty_cores(folder);
  std::vector<std::string> args = {"analyse", file.string(), "--layout", "rwl", "--series", "all"};
  for (const std::string& more : {std::string("--jobs"), std::to_string(state.range(0)),
                                  std::string("--out"), (folder / "results").string()})
    args.push_back(more);
  args.push_back("--quiet");
  for (auto _ : state) {
    std::ostringstream out, err;
    const int status = quorvane::cli::run_command_line(args, out, err);
    if (status != 0) state.SkipWithError(err.str().c_str());
  }
  state.SetItemsProcessed(state.iterations() * 30);
  fs::remove_all(folder);
}
BENCHMARK(BM_AnalyseAllSeries)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

// The 17 columns of a default spectrum of a record of 2^21 values (2^20
// rows), values of every magnitude as a spectrum has them; argument 0 writes
// CSV, 1 NetCDF-4.
void BM_WriteSpectrumFile(benchmark::State& state) {
  constexpr std::size_t kRows = std::size_t{1} << 20;
  std::vector<std::vector<float>> values(17, std::vector<float>(kRows));
  std::vector<quorvane::cli::Column> columns;
  for (std::size_t c = 0; c < values.size(); ++c) {
    for (std::size_t i = 0; i < kRows; ++i)
      values[c][i] = std::exp(std::sin(0.001f * static_cast<float>(i * (c + 1))) * 8.0f);
    columns.push_back({c == 0 ? "frequency" : "c" + std::to_string(c), values[c]});
  }
  const bool netcdf = state.range(0) == 1;
  const fs::path path = fs::temp_directory_path() /
                        ("quorvane_write_bench_" + std::to_string(::getpid()) + (netcdf ? ".nc" : ".csv"));
  for (auto _ : state) {
    std::string error;
    const bool written =
        netcdf ? quorvane::cli::write_netcdf_atomically(path.string(), columns, "frequency",
                                                        {{"program", "quorvane"}}, error)
               : quorvane::cli::write_file_atomically(path.string(),
                                                      quorvane::cli::csv_pieces(columns), error);
    if (!written) state.SkipWithError(error.c_str());
  }
  state.counters["MB"] = static_cast<double>(fs::file_size(path)) / 1e6;
  fs::remove(path);
}
BENCHMARK(BM_WriteSpectrumFile)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// analyse of 10^6 values of AR(1) noise with a line, K = 7, on every core;
// argument 0 writes the spectrum as CSV, 1 as NetCDF-4.
void BM_AnalyseLongRecord(benchmark::State& state) {
  const fs::path folder =
      fs::temp_directory_path() / ("quorvane_long_bench_" + std::to_string(::getpid()));
  fs::create_directories(folder);
  const fs::path file = folder / "long.dat";
  {
    std::ofstream out(file);
    out << "long\n1\n";
    float red = 0.0f;
    std::uint32_t state_bits = 12345u;
    for (int i = 0; i < 1000000; ++i) {
      state_bits = state_bits * 1664525u + 1013904223u;
      const float noise = static_cast<float>(state_bits >> 8) / 16777216.0f - 0.5f;
      red = 0.5f * red + noise;
      out << red + std::sin(0.2f * static_cast<float>(i)) << "\n";
    }
  }
  const bool netcdf = state.range(0) == 1;
  std::vector<std::string> args = {"analyse", file.string(), "--layout", "single", "--tapers",
                                   "7", "--out", (folder / "results").string(), "--quiet"};
  if (netcdf) args.insert(args.end(), {"--format", "netcdf"});
  for (auto _ : state) {
    std::ostringstream out, err;
    const int status = quorvane::cli::run_command_line(args, out, err);
    if (status != 0) state.SkipWithError(err.str().c_str());
  }
  fs::remove_all(folder);
}
BENCHMARK(BM_AnalyseLongRecord)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

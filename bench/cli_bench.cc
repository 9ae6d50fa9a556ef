// `quorvane analyse --series all` on a raw ring-width file of 30 cores
// (150 to 440 years each), with one and with two jobs: reading the file,
// every spectrum, the peaks and the result files.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/batch.h"
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
  const std::vector<std::string> args = {"analyse", file.string(), "--layout", "rwl", "--series",
                                         "all", "--jobs", std::to_string(state.range(0)),
                                         "--out", (folder / "results").string(), "--quiet"};
  for (auto _ : state) {
    std::ostringstream out, err;
    const int status = quorvane::cli::run_command_line(args, out, err);
    if (status != 0) state.SkipWithError(err.str().c_str());
  }
  state.SetItemsProcessed(state.iterations() * 30);
  fs::remove_all(folder);
}
BENCHMARK(BM_AnalyseAllSeries)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

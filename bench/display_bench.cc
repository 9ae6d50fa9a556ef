// Cost of one result plot of a full-size spectrum (32768 bins): preparing and
// drawing it through PLplot, and writing its plot-data file.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "display/display.h"
#include "display/plot_data.h"

namespace {

using quorvane::display::Display;
using quorvane::display::PlotData;
using quorvane::display::PlotInput;

// A spectrum of nf - 1 bins from 0 to the Nyquist frequency with its
// chi-square levels.
struct Spectrum {
  explicit Spectrum(int nf) : frequency(static_cast<std::size_t>(nf - 1)), raw(frequency.size()) {
    constexpr float kConf[4] = {1.0f, 2.3f, 3.0f, 4.6f};
    for (auto& level : levels) level.resize(frequency.size());
    for (std::size_t i = 0; i < frequency.size(); ++i) {
      frequency[i] = static_cast<float>(i) * (0.5f / static_cast<float>(nf));
      const float back = 100.0f / (1.0f + 0.01f * static_cast<float>(i));
      raw[i] = back * (1.5f + std::sin(0.37f * static_cast<float>(i)));
      for (std::size_t k = 0; k < 4; ++k) levels[k][i] = back * kConf[k];
    }
  }
  PlotInput input() const {
    PlotInput in;
    in.kind = 1;
    in.x = frequency;
    in.curves = {raw, levels[0], levels[1], levels[2], levels[3]};
    in.title = "bench   ";
    return in;
  }
  std::vector<float> frequency, raw;
  std::array<std::vector<float>, 4> levels;
};

// One display call (prepare, draw, menu answered with "c") on `device`.
void display_on(benchmark::State& state, const char* device) {
  const int nf = static_cast<int>(state.range(0));
  setenv("QUORVANE_DEVICE", device, 1);
  // Plot files go to a scratch directory.
  std::string pattern = (std::filesystem::temp_directory_path() / "quorvane-bench-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    state.SkipWithError("no scratch directory");
    return;
  }
  const std::filesystem::path directory = pattern;
  const std::filesystem::path old = std::filesystem::current_path();
  std::filesystem::current_path(directory);
  Spectrum spectrum(nf);
  const PlotInput input = spectrum.input();
  std::istringstream in;
  std::ostringstream out, err;
  quorvane::textio::Console console(in, out, err);
  Display display(console);
  for (auto _ : state) {
    in.clear();
    in.str("c\n");
    out.str("");
    err.str("");
    display.display(input);
  }
  state.SetItemsProcessed(state.iterations() * nf);
  std::filesystem::current_path(old);
  std::filesystem::remove_all(directory);
}

void BM_DisplayNull(benchmark::State& state) { display_on(state, "null"); }
BENCHMARK(BM_DisplayNull)->Arg(1024)->Arg(32768)->Unit(benchmark::kMillisecond);

void BM_DisplayPng(benchmark::State& state) { display_on(state, "pngcairo"); }
BENCHMARK(BM_DisplayPng)->Arg(1024)->Arg(32768)->Arg(1 << 19)->Unit(benchmark::kMillisecond);

// A long record's spectrum is thinned to the extremes of each pixel column
// before it is drawn, so its plot costs about as much as a short one's.
void BM_DisplaySvg(benchmark::State& state) { display_on(state, "svg"); }
BENCHMARK(BM_DisplaySvg)->Arg(32768)->Arg(1 << 19)->Unit(benchmark::kMillisecond);

void BM_WritePlotData(benchmark::State& state) {
  const int nf = static_cast<int>(state.range(0));
  Spectrum spectrum(nf);
  PlotData data;
  quorvane::display::prepare_plot_data(spectrum.input(), data);
  for (auto _ : state) {
    std::ostringstream out;
    quorvane::display::write_plot_data(out, data);
    benchmark::DoNotOptimize(out.str().size());
  }
  state.SetItemsProcessed(state.iterations() * nf);
}
BENCHMARK(BM_WritePlotData)->Arg(32768)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

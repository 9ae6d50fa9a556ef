// Reading speed of the series readers: the work must grow linearly with the
// file (single column values, multiple-column rows, raw ring-width decades,
// csv rows).
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <sstream>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "input/readers.h"
#include "input/series_file.h"
#include "textio/console.h"
#include "textio/line_reader.h"

namespace {

using quorvane::input::RingSeries;
using quorvane::input::SeriesTable;
using quorvane::textio::Console;
using quorvane::textio::LineReader;

void run_reader(benchmark::State& state, const std::vector<std::string>& lines,
                const std::string& answers,
                bool (*reader)(Console&, LineReader&, SeriesTable&)) {
  for (auto _ : state) {
    state.PauseTiming();
    LineReader file = LineReader::from_lines(lines);
    std::istringstream in(answers);
    std::ostringstream out, err;
    Console console(in, out, err);
    SeriesTable table;
    state.ResumeTiming();
    benchmark::DoNotOptimize(reader(console, file, table));
    benchmark::DoNotOptimize(table.series.data());
  }
  state.SetComplexityN(state.range(0));
}

void BM_rd1col(benchmark::State& state) {
  std::vector<std::string> lines = {"series", "1000"};
  for (long i = 0; i < state.range(0); ++i) lines.push_back(std::to_string(i % 997) + ".25");
  run_reader(state, lines, "", [](Console& console, LineReader& file, SeriesTable& table) {
    return quorvane::input::rd1col(console, file, table);
  });
}
BENCHMARK(BM_rd1col)->RangeMultiplier(8)->Range(1 << 12, 1 << 18)->Arg(1000000)->Complexity();

void BM_rdmcol(benchmark::State& state) {
  std::vector<std::string> lines = {"year a b c d e f g h i"};
  for (long i = 0; i < state.range(0); ++i) {
    std::string row = std::to_string(1000 + i);
    for (int c = 0; c < 9; ++c) row += (c == 4 && i % 7 == 0) ? " *******" : " 1.234";
    lines.push_back(row);
  }
  run_reader(state, lines, "0\n10\n*\n", quorvane::input::rdmcol);
}
BENCHMARK(BM_rdmcol)->RangeMultiplier(8)->Range(1 << 10, 1 << 16)->Complexity();

void BM_trrw(benchmark::State& state) {
  std::vector<std::string> lines;
  for (long i = 0; i < state.range(0); ++i)
    lines.push_back("HBM01A  " + std::to_string(1000 + 10 * (i % 900)) +
                    "   176   225   137   262    84    97   108   247    89   319");
  lines.push_back("HBM01A  9990   100 -9999");
  for (auto _ : state) {
    state.PauseTiming();
    LineReader file = LineReader::from_lines(lines);
    std::istringstream in;
    std::ostringstream out, err;
    Console console(in, out, err);
    state.ResumeTiming();
    int status = 0;
    RingSeries ring;
    quorvane::input::trrw(console, file, ring, status);
    benchmark::DoNotOptimize(ring.values.data());
  }
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_trrw)->RangeMultiplier(8)->Range(1 << 8, 1 << 14)->Complexity();

// A whole single-column file of a million values read from disk, as the
// dialogue and the command line read it: the file, the lines, the numbers.
void BM_single_column_file(benchmark::State& state) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("quorvane_bench_single_" + std::to_string(state.range(0)) + ".txt");
  {
    std::ofstream file(path);
    file << "core A\n1000\n";
    for (long i = 0; i < state.range(0); ++i) file << (i % 9973) * 0.0137 - 40.0 << '\n';
  }
  quorvane::input::ReadOptions options;
  options.iform = 3;
  for (auto _ : state) {
    std::istringstream in;
    std::ostringstream out, err;
    Console console(in, out, err);
    SeriesTable table;
    const quorvane::Status read =
        quorvane::input::read_series_file(path.string(), options, table, console);
    if (!read) state.SkipWithError(read.message.c_str());
    benchmark::DoNotOptimize(table.series.data());
  }
  std::filesystem::remove(path);
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_single_column_file)->Arg(1000000)->Unit(benchmark::kMillisecond);

// A csv file of a million rows (a time column and three series, one with
// a missing value in every tenth row) read from disk, and one series chosen
// from it: the reading, the double times and the sampling class.
void BM_csv_file(benchmark::State& state) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("quorvane_bench_csv_" + std::to_string(state.range(0)) + ".csv");
  {
    std::ofstream file(path);
    file << "age,\"d18O (permil)\",temperature,depth\n";
    for (long i = 0; i < state.range(0); ++i)
      file << std::fixed << std::setprecision(2) << 1000.0 + 0.25 * static_cast<double>(i) << ',' << (i % 10 == 3 ? "NA" : "-3.125")
           << ',' << (i % 977) * 0.01 << ',' << i << '\n';
  }
  quorvane::input::ReadOptions options;
  options.iform = 8;
  for (auto _ : state) {
    std::istringstream in;
    std::ostringstream out, err;
    Console console(in, out, err);
    SeriesTable table;
    quorvane::input::ChosenSeries chosen;
    quorvane::Status read = quorvane::input::read_series_file(path.string(), options, table, console);
    if (read) read = quorvane::input::choose_series(table, 0, chosen);
    if (!read) state.SkipWithError(read.message.c_str());
    benchmark::DoNotOptimize(chosen.time.data());
  }
  std::filesystem::remove(path);
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_csv_file)->Arg(1000000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

// Evolutive spectra: line tracks that follow a switching and a drifting
// line, a window that is analyse's analysis of its values alone, files that
// do not depend on --jobs, and the refusals.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <numbers>
#include <nlohmann/json.hpp>

#include "spectral/analyses/evolutive.h"
#include "spectral/significance/surrogates.h"
#include "tests/cli/cli_test_support.h"

namespace quorvane::cli {
namespace {

using namespace testing;

// 4000 values of white noise with a line of amplitude 1 whose frequency
// (in cycles per value) is frequency(t).
template <typename Frequency>
std::vector<float> line_record(Frequency frequency) {
  spectral::RandomStream random(21, 3);
  std::vector<float> y(4000);
  spectral::ar1_surrogate(0.0, 1.0, random, y);
  double phase = 0.0;
  for (std::size_t t = 0; t < y.size(); ++t) {
    y[t] += static_cast<float>(std::sin(phase));
    phase += 2 * std::numbers::pi * frequency(static_cast<double>(t));
  }
  return y;
}

TEST(EvolutiveSpectrum, TracksFollowASwitchingAndADriftingLine) {
  const int window = 400, step = 100;
  spectral::SpecSettings s;
  s.npts = window;
  s.p = 3, s.nwin = 5;  // an F-test of 8 degrees of freedom in its denominator
  s.isiglev = 4;        // tracks of the F maxima above 99 %
  const double half_bandwidth = s.p / static_cast<double>(window);
  struct Case {
    const char* name;
    double (*frequency)(double t);
    bool switches;
  };
  const Case cases[] = {
      {"switch", [](double t) { return t < 2000 ? 0.1 : 0.3; }, true},
      {"drift", [](double t) { return 0.1 + 0.01 * t / 4000; }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int windows = 0, followed = 0, other_side = 0;
    double entries_near = 0.0;
    const Status status = spectral::evolutive_spectrum(
        line_record(c.frequency), window, step, s, 2, [&](const spectral::EvolutiveRow& row) {
          const double first = static_cast<double>(row.start), last = first + window - 1;
          // The switch must not fall inside the window; the drifting line
          // moves by less than a bandwidth across one.
          if (first < 2000 && last >= 2000 && c.frequency(first) != c.frequency(last))
            return Status::success();
          const double truth = c.frequency(row.centre);
          // The switching line's frequency on the other side of the switch.
          const double other = c.frequency(4000 - row.centre);
          ++windows;
          bool near = false;
          for (const auto& line : row.lines) {
            near = near || std::fabs(line.frequency - truth) <= half_bandwidth;
            other_side += c.switches && std::fabs(line.frequency - other) <= half_bandwidth;
          }
          followed += near;
          entries_near = 2 * half_bandwidth / row.spectrum->df + 1;
          return Status::success();
        });
    ASSERT_TRUE(status.ok) << status.message;
    EXPECT_EQ(followed, windows);
    // By chance an entry's F exceeds its 99 % level one time in a hundred,
    // so a window has a track within half a bandwidth of the other
    // frequency at most about as often as one in a hundred of those entries.
    EXPECT_LE(other_side, 0.01 * entries_near * windows + 2);
  }
}

TEST(EvolveCommand, AWindowIsAnalysesRunOnItsValuesAndJobsChangeNothing) {
  const fs::path folder = fresh_folder("evolve");
  fs::create_directories(folder);
  const std::string sunspots = example("sunspots.dat");
  // The title, the first year and the first 100 values alone, as a file of
  // their own.
  {
    std::ifstream in(sunspots);
    std::ofstream first(folder / "first.dat");
    std::string line;
    for (int i = 0; i < 102 && std::getline(in, line); ++i) first << line << '\n';
  }
  const auto evolve = [&](const std::string& out, const std::string& jobs) {
    return run_batch({"evolve", sunspots, "--layout", "single", "--window", "100", "--step",
                      "7", "--tapers", "4", "--jobs", jobs, "--out", (folder / out).string(),
                      "--quiet"});
  };
  ASSERT_EQ(evolve("one", "1").status, 0);
  ASSERT_EQ(evolve("two", "2").status, 0);
  // 30 windows in blocks of 8 rows, the last one short.
  ASSERT_EQ(evolve("four", "4").status, 0);
  ASSERT_EQ(run_batch({"analyse", (folder / "first.dat").string(), "--layout", "single",
                       "--tapers", "4", "--out", (folder / "alone").string(), "--quiet"})
                .status,
            0);
  for (const char* name : {"sunspots.evolutive-power.csv", "sunspots.evolutive-F.csv",
                           "sunspots.evolutive-ratio.csv", "sunspots.tracks.csv", "summary.json"})
    for (const char* jobs : {"two", "four"})
      EXPECT_EQ(file_text(folder / "one" / name), file_text(folder / jobs / name)) << name << jobs;

  const Csv alone = read_csv(folder / "alone" / "sunspots.spectrum.csv");
  const std::pair<const char*, const char*> matrices[] = {
      {"sunspots.evolutive-power.csv", "estimate"}, {"sunspots.evolutive-F.csv", "F"}};
  for (const auto& [matrix, column] : matrices) {
    const Csv rows = read_csv(folder / "one" / matrix);
    ASSERT_EQ(rows.header.size(), alone.rows.size() + 1) << matrix;
    for (std::size_t i = 0; i < alone.rows.size(); ++i) {
      ASSERT_EQ(rows.header[i + 1], alone.cells[i][alone.column("frequency")]) << i;
      ASSERT_EQ(rows.cells[0][i + 1], alone.cells[i][alone.column(column)]) << matrix << i;
    }
  }
  // (309 - 100) / 7 + 1 windows fit; the first is centred on 1749.5.
  const auto series = nlohmann::json::parse(file_text(folder / "one" / "summary.json"))["series"][0];
  EXPECT_EQ(series["window_count"], 30);
  EXPECT_EQ(series["windows"][0]["time"], 1749.5);
  fs::remove_all(folder);
}

TEST(EvolveCommand, RefusesWindowsThatDoNotFitAndUnevenRecords) {
  const fs::path folder = fresh_folder("evolve_refusals");
  fs::create_directories(folder);
  {
    std::ofstream gappy(folder / "gappy.txt");
    gappy << "year value\n";
    for (int t = 0; t < 300; ++t)
      if (t < 100 || t >= 150) gappy << t << ' ' << std::sin(0.3 * t) << '\n';
  }
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* message;
  };
  const std::string sunspots = example("sunspots.dat");
  const Case cases[] = {
      {{sunspots, "--window", "4", "--step", "1"}, 1, "at least 6 are needed"},
      {{sunspots, "--window", "1000", "--step", "1"}, 1, "more than the 309 of the series"},
      {{sunspots, "--window", "100", "--step", "0.2"}, 1, "by less than one value"},
      {{(folder / "gappy.txt").string(), "--layout", "two", "--window", "50", "--step", "5"}, 1,
       "the series has gaps (50 samples missing"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"evolve", "--out", (folder / "out").string(), "--quiet"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    if (c.args[0] == sunspots) args.insert(args.end(), {"--layout", "single"});
    const BatchRun run = run_batch(args);
    EXPECT_EQ(run.status, c.status) << c.message << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    // Nothing half-written is left behind.
    std::error_code none;
    for (const auto& entry : fs::directory_iterator(folder / "out", none))
      EXPECT_FALSE(half_written(entry.path())) << entry.path();
  }
  fs::remove_all(folder);
}

}  // namespace
}  // namespace quorvane::cli

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

TEST(EvolveCommand, RefusesWindowsThatDoNotFit) {
  const fs::path folder = fresh_folder("evolve_refusals");
  fs::create_directories(folder);
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

// 300 years without 100 .. 179; then 300 samples whose steps alternate
// 0.6 and 1.4 (a median step of 0.6).
void write_timed_records(const fs::path& folder) {
  fs::create_directories(folder);
  std::ofstream gappy(folder / "gappy.txt");
  std::ofstream uneven(folder / "uneven.txt");
  gappy << "year value\n";
  uneven << "year value\n";
  double t = 0.0;
  for (int j = 0; j < 300; ++j) {
    if (j < 100 || j >= 180) gappy << j << ' ' << std::sin(0.9 * j) << '\n';
    uneven << t << ' ' << std::sin(0.9 * t) << '\n';
    t += j % 2 == 0 ? 0.6 : 1.4;
  }
}

// evolve of a record of write_timed_records, windows of 50 moving by 25,
// into <name>-out, or <name>-<out> when `out` is given.
BatchRun evolve_timed(const fs::path& folder, const char* name,
                      std::vector<std::string> more = {}, const std::string& out = "out") {
  std::vector<std::string> args = {"evolve", (folder / name).string(), "--layout", "two",
                                   "--window", "50", "--step", "25", "--plots", "none", "--out",
                                   (folder / name).string() + "-" + out, "--quiet"};
  args.insert(args.end(), more.begin(), more.end());
  return run_batch(args);
}

TEST(EvolveCommand, RecordsWithGapsAndUnevenStepsLeaveThinWindowsEmptyAndTakeTheSamplingChosen) {
  const fs::path folder = fresh_folder("evolve_timed");
  write_timed_records(folder);
  for (const char* name : {"gappy.txt", "uneven.txt"})
    ASSERT_EQ(evolve_timed(folder, name).status, 0);
  const auto summary = [&](const char* name) {
    return nlohmann::json::parse(file_text(folder / (std::string(name) + "-out") / "summary.json"))
        ["series"][0];
  };
  const auto gappy = summary("gappy.txt");
  EXPECT_EQ(gappy["sampling"], "gaps");
  // Windows [75, 125) .. [175, 225) start every 25 years: those of [100, 150)
  // and [125, 175) hold no sample, [75, 125) and [150, 200) 25 and 20.
  EXPECT_EQ(gappy["window_count"], 11);
  ASSERT_EQ(gappy["empty_windows"].size(), 3u) << gappy["empty_windows"];
  EXPECT_EQ(gappy["empty_windows"][0]["window"], 5);
  EXPECT_EQ(gappy["empty_windows"][0]["samples"], 0);
  EXPECT_EQ(gappy["empty_windows"][2]["window"], 7);
  EXPECT_NE(gappy["empty_windows"][2]["reason"].get<std::string>().find("more than half"),
            std::string::npos);
  EXPECT_EQ(gappy["methods"]["even"].get<int>() + gappy["methods"]["gaps"].get<int>(), 8);
  // An empty window's row is nan throughout and gives no track.
  const auto files = gappy["files"].get<std::vector<std::string>>();
  ASSERT_EQ(files.size(), 4u);
  const Csv power = read_csv(folder / "gappy.txt-out" / files[0]);
  ASSERT_EQ(power.rows.size(), 11u);
  EXPECT_EQ(gappy["empty_windows"][0]["time"], 124.5);
  EXPECT_EQ(power.cells[4][0], "124.5");
  for (std::size_t i = 1; i < power.header.size(); ++i) EXPECT_EQ(power.cells[4][i], "nan");
  EXPECT_NE(power.cells[3][1], "nan");
  const Csv tracks = read_csv(folder / "gappy.txt-out" / files[3]);
  for (const auto& row : tracks.cells) EXPECT_NE(row[0], "124.5");

  const auto uneven = summary("uneven.txt");
  EXPECT_EQ(uneven["sampling"], "uneven");
  EXPECT_EQ(uneven["empty_windows"].size(), 0u);
  EXPECT_EQ(uneven["methods"]["uneven"], uneven["window_count"]);
  // The steps repeat every two samples, the windows every 25 median steps:
  // every second window has the pattern of one before it. Which window
  // makes a shared plan depends on the threads; the summary does not.
  EXPECT_GT(uneven["plans_reused"].get<int>(), 0);
  for (int run = 0; run < 3; ++run) {
    ASSERT_EQ(evolve_timed(folder, "uneven.txt", {"--jobs", "2"}, "two").status, 0);
    EXPECT_EQ(file_text(folder / "uneven.txt-two" / "summary.json"),
              file_text(folder / "uneven.txt-out" / "summary.json"));
  }

  // --sampling as analyse takes it: auto as no choice; even and interpolate
  // give windows of evenly spaced values with analyse's warning; gaps is
  // refused for uneven steps; uneven takes the uneven method in every window.
  struct Case {
    std::string record, choice;
    const char* method;   // in the summary ("" none)
    const char* message;  // on the error stream ("" none)
  };
  const Case cases[] = {
      {"gappy.txt", "auto", "", ""},
      {"uneven.txt", "auto", "", ""},
      {"gappy.txt", "even", "mean_step_multitaper",
       "series 1 (ue): warning: Series ue has gaps; its values are analysed as if evenly spaced, "
       "at the mean step 1.365297."},
      {"uneven.txt", "even", "mean_step_multitaper", "Series ue has uneven steps; its values"},
      {"gappy.txt", "interpolate", "interpolated_multitaper",
       "warning: Series ue is interpolated linearly to its median step 1.0 (300 values); "
       "interpolation removes power at high frequencies."},
      {"uneven.txt", "interpolate", "interpolated_multitaper", "median step 0.6 (499 values)"},
      {"gappy.txt", "gaps", "missing_data_multitaper", ""},
      {"uneven.txt", "gaps", "",
       "series 1 (ue) failed: Series ue has uneven steps, not a regular grid with gaps; the "
       "missing-data method cannot analyse it (the uneven method or interpolation can)."},
      {"gappy.txt", "uneven", "lomb_scargle_multitaper", ""},
      {"uneven.txt", "uneven", "lomb_scargle_multitaper", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.record + " " + c.choice);
    const BatchRun run = evolve_timed(folder, c.record.c_str(), {"--sampling", c.choice}, c.choice);
    const bool refused = c.choice == "gaps" && c.record == "uneven.txt";
    EXPECT_EQ(run.status, refused ? 1 : 0) << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_EQ(run.err.empty(), *c.message == '\0') << run.err;
    if (refused) continue;
    const fs::path out = folder / (c.record + "-" + c.choice), plain = folder / (c.record + "-out");
    if (*c.method == '\0') {
      for (const char* file : {"summary.json", "ue.evolutive-power.csv", "ue.tracks.csv"})
        EXPECT_EQ(file_text(out / file), file_text(plain / file)) << file;
      continue;
    }
    const auto series = nlohmann::json::parse(file_text(out / "summary.json"))["series"][0];
    EXPECT_EQ(series["method"], c.method);
    EXPECT_EQ(series["sampling"], c.record == "gappy.txt" ? "gaps" : "uneven");
    // Windows of values, with the warning among the notes; or of steps on
    // the record's times, each by its own method or all uneven.
    const bool even_windows = c.choice == "even" || c.choice == "interpolate";
    EXPECT_EQ(series["window"].contains("values"), even_windows);
    if (even_windows) {
      ASSERT_EQ(series["notes"].size(), 1u);
      EXPECT_NE(run.err.find(series["notes"][0].get<std::string>()), std::string::npos);
    } else {
      const int analysed = series["window_count"].get<int>() -
                           static_cast<int>(series["empty_windows"].size());
      EXPECT_EQ(series["methods"]["uneven"] == analysed, c.choice == "uneven");
    }
    if (c.choice == "gaps") {
      EXPECT_EQ(file_text(out / "ue.evolutive-power.csv"),
                file_text(plain / "ue.evolutive-power.csv"));
    }
    // Interpolated, the windows are centred on the grid of the median step:
    // 0.6 (83 - 1) / 2 for the uneven record.
    if (c.choice == "interpolate") {
      EXPECT_EQ(series["windows"][0]["time"], c.record == "gappy.txt" ? 24.5 : 24.6);
    }
  }
  fs::remove_all(folder);
}

}  // namespace
}  // namespace quorvane::cli

// quorvane ensemble: a one-member ensemble against analyse of that
// chronology, the example core's cycles across its chronologies, the
// generated age models' seeds, and the options that cannot go together.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <nlohmann/json.hpp>

#include "tests/cli/cli_test_support.h"

namespace quorvane::cli {
namespace {

using namespace testing;

std::vector<std::string> ensemble_args(const fs::path& out, std::vector<std::string> extra) {
  std::vector<std::string> args = {"ensemble", example("core_values.csv"), "--layout", "csv",
                                   "--out", out.string(), "--quiet"};
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}

TEST(EnsembleCommand, OneMemberGivesTheSpectrumAnalyseGivesOnItsAges) {
  const fs::path folder = fresh_folder("ensemble_one");
  fs::create_directories(folder);
  // The first member of the example as the record's own times.
  std::ifstream ages(example("core_ages.csv")), values(example("core_values.csv"));
  std::ofstream timed(folder / "timed.csv"), one(folder / "one.csv");
  std::string a, v;
  std::getline(ages, a);
  std::getline(values, v);
  timed << "age,d18O\n";
  one << "depth,member1\n";
  while (std::getline(ages, a) && std::getline(values, v)) {
    const auto age = split_commas(a), value = split_commas(v);
    timed << age[1] << "," << value[1] << "\n";
    one << age[0] << "," << age[1] << "\n";
  }
  timed.close();
  one.close();
  const BatchRun alone = run_batch({"analyse", (folder / "timed.csv").string(), "--layout", "csv",
                                    "--out", (folder / "alone").string(), "--quiet"});
  ASSERT_EQ(alone.status, 0) << alone.err;
  const BatchRun run = run_batch(ensemble_args(
      folder / "ensemble", {"--ensemble", (folder / "one.csv").string(), "--jobs", "1"}));
  ASSERT_EQ(run.status, 0) << run.err;
  const Csv spectrum = read_csv(folder / "alone" / "d18O.spectrum.csv");
  const Csv ensemble = read_csv(folder / "ensemble" / "d18O.ensemble.csv");
  ASSERT_EQ(spectrum.rows.size(), ensemble.rows.size());
  for (const auto& [mine, theirs] : {std::pair{"frequency", "frequency"},
                                     {"estimate_median", "estimate"},
                                     {"estimate_q2.5", "estimate"},
                                     {"background_median", "background"}}) {
    const std::size_t c = ensemble.column(mine), s = spectrum.column(theirs);
    ASSERT_LT(c, ensemble.header.size()) << mine;
    for (std::size_t i = 0; i < ensemble.rows.size(); ++i)
      ASSERT_EQ(ensemble.cells[i][c], spectrum.cells[i][s]) << mine << " row " << i;
  }
  // With one member a fraction is 0 or 1: whether its estimate passes its level.
  const std::size_t above = ensemble.column("fraction_above_95"),
                    estimate = spectrum.column("estimate"), level = spectrum.column("level95");
  for (std::size_t i = 0; i < ensemble.rows.size(); ++i) {
    const bool passes = spectrum.rows[i][estimate] > spectrum.rows[i][level];
    EXPECT_EQ(ensemble.rows[i][above], passes ? 1.0f : 0.0f) << "row " << i;
  }
  fs::remove_all(folder);
}

// Padded, so that the F-test at the shared grid's bins meets each member's
// cycles near their frequency.
TEST(EnsembleCommand, TheExampleCoreKeepsBothCyclesForAnyNumberOfJobs) {
  const fs::path folder = fresh_folder("ensemble_core");
  BatchRun runs[2];
  for (int jobs : {1, 2}) {
    runs[jobs - 1] = run_batch(ensemble_args(
        folder / std::to_string(jobs),
        {"--ensemble", example("core_ages.csv"), "--jobs", std::to_string(jobs), "--pad", "4"}));
    ASSERT_EQ(runs[jobs - 1].status, 0) << runs[jobs - 1].err;
  }
  for (const char* file : {"d18O.ensemble.csv", "d18O.ensemble-peaks.csv"})
    EXPECT_EQ(file_text(folder / "1" / file), file_text(folder / "2" / file)) << file;
  const Csv peaks = read_csv(folder / "1" / "d18O.ensemble-peaks.csv");
  EXPECT_EQ(peaks.header, (std::vector<std::string>{"frequency", "period", "frequency_q2.5",
                                                    "frequency_q97.5", "frequency_sd", "members",
                                                    "fraction"}));
  for (double period : {41.0, 23.0}) {
    bool found = false;
    for (const auto& row : peaks.rows) {
      if (std::fabs(row[1] - period) > 0.1 * period) continue;
      found = true;
      EXPECT_GE(row[6], 0.5f);
      EXPECT_LE(row[2], row[0]);
      EXPECT_GE(row[3], row[0]);
    }
    EXPECT_TRUE(found) << "no line near period " << period;
  }
  const auto summary = nlohmann::json::parse(file_text(folder / "1" / "summary.json"));
  EXPECT_EQ(summary["command"], "ensemble");
  EXPECT_EQ(summary["settings"]["age_model"]["kind"], "file");
  const auto& series = summary["series"][0];
  EXPECT_EQ(series["members"], 40);
  EXPECT_EQ(series["matched_by"], "depth");
  EXPECT_EQ(series["files"].size(), 2u);
  fs::remove_all(folder);
}

TEST(EnsembleCommand, RefusesAgeModelsThatDoNotFitTogether) {
  const fs::path folder = fresh_folder("ensemble_usage");
  struct Case { std::vector<std::string> extra; std::string says; };
  for (const Case& c :
       {Case{{}, "either --ensemble"},
        Case{{"--ensemble", example("core_ages.csv"), "--age-model", "counted"}, "either"},
        Case{{"--age-model", "tiepoints"}, "needs --tiepoints"},
        Case{{"--age-model", "counted", "--tiepoints", example("core_tiepoints.csv")},
             "--tiepoints is for"},
        Case{{"--ensemble", example("core_ages.csv"), "--seed", "3"}, "--seed is for"},
        Case{{"--age-model", "counted", "--agreement", "0"}, "agreement"},
        Case{{"--age-model", "counted", "--significance", "montecarlo"}, "significance"},
        Case{{"--ensemble", (folder / "missing.csv").string()}, "cannot read"}}) {
    const BatchRun run = run_batch(ensemble_args(folder, c.extra));
    EXPECT_EQ(run.status, 2) << c.says;
    EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
  }
  // An ensemble that matches the values neither by depth nor by row fails
  // that series.
  fs::create_directories(folder);
  {
    std::ofstream wrong(folder / "wrong.csv");
    wrong << "depth,m1\n1000,1\n1001,2\n";
  }
  const BatchRun run =
      run_batch(ensemble_args(folder / "out", {"--ensemble", (folder / "wrong.csv").string()}));
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("neither by depth nor by row"), std::string::npos) << run.err;
  fs::remove_all(folder);
}

}  // namespace
}  // namespace quorvane::cli

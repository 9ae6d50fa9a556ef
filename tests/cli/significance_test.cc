// The significance options of `quorvane analyse`: their refusals, and what
// they change in the result files.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <string>
#include <vector>

#include "tests/cli/cli_test_support.h"

namespace quorvane::cli::testing {
namespace {

// White surrogates against the flat raw background, and the corrected
// median as the locally-white background, are defined.
TEST(SignificanceOptions, CombinationsWithADefinedMeaningRun) {
  const fs::path folder = fresh_folder("significance_defined");
  for (const std::vector<std::string>& extra : std::vector<std::vector<std::string>>{
           {"--significance", "montecarlo", "--surrogates", "19", "--background", "raw", "--noise", "white"},
           {"--median-bias-correction", "--background", "raw", "--noise", "local"}}) {
    EXPECT_EQ(run_batch(sunspots(folder, extra)).status, kAllAnalysed) << extra.back();
  }
  fs::remove_all(folder);
}

TEST(SignificanceOptions, MonteCarloFilesAreByteIdenticalForAnyJobsAndUseTheirLevels) {
  const std::vector<std::string> options = {"--significance", "montecarlo", "--surrogates", "99",
                                            "--seed",         "5",          "--jackknife",  "--max-peaks",
                                            "3",              "--pad",      "2"};
  std::vector<std::string> texts;
  for (const char* jobs : {"1", "2"}) {
    const fs::path folder = fresh_folder(std::string("montecarlo_") + jobs);
    std::vector<std::string> args = sunspots(folder, options);
    args.insert(args.end(), {"--jobs", jobs});
    const BatchRun run = run_batch(args);
    ASSERT_EQ(run.status, kAllAnalysed) << run.err;
    texts.push_back(file_text(folder / "sunspots.spectrum.csv") +
                    file_text(folder / "sunspots.peaks.csv") + file_text(folder / "summary.json"));
    if (texts.size() == 2) {
      const Csv spectrum = read_csv(folder / "sunspots.spectrum.csv");
      ASSERT_LT(spectrum.column("jackknife_upper"), spectrum.header.size());
      ASSERT_LT(spectrum.column("jackknife_lower"), spectrum.header.size());
      ASSERT_EQ(spectrum.header.back(), "global99");
      ASSERT_EQ(spectrum.header[spectrum.header.size() - 2], "global95");
      // 309 values padded by 2: a 1024-point transform.
      EXPECT_EQ(spectrum.rows.size(), 512u);
      const std::size_t estimate = spectrum.column("estimate");
      const std::size_t background = spectrum.column("background");
      const std::size_t level99 = spectrum.column("level99");
      bool varies = false;
      for (const auto& row : spectrum.rows) {
        // Each surrogate's largest ratio bounds its ratio at every
        // frequency, so the band-wide levels lie at or above the local ones.
        EXPECT_GE(row[spectrum.column("global95")], row[spectrum.column("level95")]);
        EXPECT_GE(row[spectrum.column("global99")], row[level99]);
        EXPECT_LE(row[spectrum.column("jackknife_lower")], row[estimate]);
        EXPECT_GE(row[spectrum.column("jackknife_upper")], row[estimate]);
        if (row[background] > 0.0f &&
            std::fabs(row[level99] / row[background] - spectrum.rows[5][level99] / spectrum.rows[5][background]) > 0.01f)
          varies = true;
      }
      EXPECT_TRUE(varies);  // one Monte Carlo ratio per frequency
      // Every listed peak exceeds the level of its significance.
      const Csv peaks = read_csv(folder / "sunspots.peaks.csv");
      ASSERT_GE(peaks.rows.size(), 1u);
      EXPECT_LE(peaks.rows.size(), 3u);
      for (const auto& peak : peaks.rows) {
        const float f = peak[peaks.column("frequency")];
        for (const auto& row : spectrum.rows) {
          if (row[0] != f) continue;
          const std::string level = "level" + std::to_string(static_cast<int>(peak[peaks.column("significance")]));
          EXPECT_GT(row[estimate], row[spectrum.column(level)]) << f;
          const float global = peak[peaks.column("global_significance")];
          EXPECT_EQ(global, row[estimate] >= row[spectrum.column("global99")]   ? 99.0f
                            : row[estimate] >= row[spectrum.column("global95")] ? 95.0f
                                                                                : 0.0f)
              << f;
        }
      }
      const std::string summary = file_text(folder / "summary.json");
      EXPECT_NE(summary.find("\"levels\": \"montecarlo\""), std::string::npos) << summary;
      EXPECT_NE(summary.find("\"global_significance\""), std::string::npos) << summary;
    }
    fs::remove_all(folder);
  }
  EXPECT_EQ(texts[0], texts[1]);
}

// The defaults given explicitly (--resolution 2 brings its suggested 3
// tapers) leave the files of the dialogue's default run.
TEST(SignificanceOptions, DefaultsLeaveTheFilesOfTheDialoguesRun) {
  const fs::path plain = fresh_folder("significance_plain");
  const fs::path explicit_defaults = fresh_folder("significance_defaults");
  ASSERT_EQ(run_batch(sunspots(plain, {})).status, kAllAnalysed);
  ASSERT_EQ(run_batch(sunspots(explicit_defaults, {"--significance", "chisquare", "--pad", "1",
                                                   "--concentrations", "asymptotic", "--max-peaks", "40",
                                                   "--resolution", "2"}))
                .status,
            kAllAnalysed);
  for (const char* name : {"sunspots.spectrum.csv", "sunspots.peaks.csv", "summary.json"}) {
    EXPECT_EQ(file_text(plain / name), file_text(explicit_defaults / name)) << name;
  }
  const std::string summary = file_text(plain / "summary.json");
  EXPECT_NE(summary.find("\"levels\": \"chisquare\""), std::string::npos) << summary;
  // The band-wide levels come with Monte Carlo levels only.
  EXPECT_EQ(summary.find("global"), std::string::npos) << summary;
  EXPECT_EQ(read_csv(plain / "sunspots.spectrum.csv").column("global95"),
            read_csv(plain / "sunspots.spectrum.csv").header.size());
  fs::remove_all(plain);
  fs::remove_all(explicit_defaults);
}

}  // namespace
}  // namespace quorvane::cli::testing

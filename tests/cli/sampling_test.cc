// Records with gaps or uneven steps on the command line: the analysis each
// --sampling choice gives, its warnings, the sampling object of the
// summary, and series refused for the order of their times.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <nlohmann/json.hpp>

#include "tests/cli/cli_test_support.h"

namespace quorvane::cli {
namespace {

using namespace testing;

// Column a of 200 years misses three of them; b is complete. The uneven
// pair has steps from 0.5 to 1.5, its ages decreasing.
void write_files(const fs::path& folder) {
  fs::create_directories(folder);
  std::ofstream multi(folder / "gappy.txt"), two(folder / "uneven.txt");
  multi << "year a b\n";
  two << "age     d18O\n";
  double age = 400.0;
  for (int i = 0; i < 200; ++i) {
    const double wave = std::sin(0.3 * i) + 0.1 * std::cos(2.1 * i);
    multi << 1800 + i << ' ' << (i >= 90 && i < 93 ? "*" : std::to_string(wave)) << ' ' << -wave
          << '\n';
    two << age << ' ' << wave << '\n';
    age -= 1.0 + 0.5 * std::sin(1.7 * i);
  }
  std::ofstream bad(folder / "disorder.txt");
  bad << "x       repeated\n1 1\n2 2\n2 3\n3 4\nx       fine\n";
  for (int i = 0; i < 40; ++i) bad << i << ' ' << std::sin(i) << '\n';
}

struct SamplingCase {
  std::vector<std::string> args;
  int status;
  // By series: part of its sampling object, its status, a text of the
  // error stream ("" for none).
  std::vector<std::array<std::string, 3>> series;
};

TEST(SamplingChoice, EachChoiceGivesItsMethodWithItsWarningsAndRefusals) {
  const fs::path folder = fresh_folder("sampling");
  write_files(folder);
  const std::string gappy = (folder / "gappy.txt").string();
  const std::string uneven = (folder / "uneven.txt").string();
  const std::string even = R"({"class":"even","method":"multitaper","median_step":1.0,"missing":0)";
  const std::vector<SamplingCase> cases = {
      {{gappy, "--layout", "multi", "--columns", "3"}, kAllAnalysed,
       {{R"({"class":"gaps","method":"missing_data_multitaper","median_step":1.0,"missing":3,)"
         R"("reversed":false,"tolerance":0.1,"largest_offset":0.0})", "ok", ""},
        {even, "ok", ""}}},
      {{gappy, "--layout", "multi", "--columns", "3", "--sampling", "even"}, kAllAnalysed,
       {{R"("method":"mean_step_multitaper")", "ok",
         "series 1 (a): warning: Series a has gaps; its values are analysed as if evenly spaced"},
        {even, "ok", ""}}},
      {{gappy, "--layout", "multi", "--columns", "3", "--sampling", "interpolate"}, kAllAnalysed,
       {{R"("method":"interpolated_multitaper")", "ok",
         "Series a is interpolated linearly to its median step 1.0 (200 values); interpolation "
         "removes power at high frequencies."},
        {even, "ok", ""}}},
      {{uneven, "--layout", "two", "--sampling", "gaps"}, kSomeFailed,
       {{"", "failed", "d18O has uneven steps, not a regular grid"}}},
      {{uneven, "--layout", "two", "--sampling", "uneven"}, kAllAnalysed,
       {{R"("method":"lomb_scargle_multitaper")", "ok", ""}}},
      {{uneven, "--layout", "two"}, kAllAnalysed, {{R"("missing":0,"reversed":true,"tolerance":0.1,)", "ok", ""}}},
      {{(folder / "disorder.txt").string(), "--layout", "two"}, kSomeFailed,
       {{"", "failed",
         "series 1 (repeated) failed: Series repeated: line 4 has the time 2, the same as line 3"},
        {even, "ok", ""}}},
  };
  for (const SamplingCase& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args.back());
    const fs::path out = folder / "out";
    fs::remove_all(out);
    std::vector<std::string> args = {"analyse", "--out", out.string(), "--quiet"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const BatchRun run = run_batch(args);
    EXPECT_EQ(run.status, c.status) << run.err;
    const auto summary = nlohmann::ordered_json::parse(file_text(out / "summary.json"));
    ASSERT_EQ(summary["series"].size(), c.series.size());
    for (std::size_t k = 0; k < c.series.size(); ++k) {
      const auto& s = summary["series"][k];
      const auto& [sampling, status, message] = c.series[k];
      const std::string object = s.contains("sampling") ? s["sampling"].dump() : "";
      EXPECT_NE(object.find(sampling), std::string::npos) << object;
      EXPECT_EQ(s["status"], status) << s.dump();
      EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
    }
  }
  fs::remove_all(folder);
}

// Weekly dates as decimal years, missing weeks left out (the Mauna Loa CO2
// record): leap years shorten the steps by 0.27 %, which a long gap gathers,
// yet the record is a grid with gaps, and its annual and semi-annual cycles
// stand out at 99 %.
TEST(SamplingChoice, WeeklyCalendarDatesWithMissingWeeksAreAGridWithGaps) {
  const fs::path folder = fresh_folder("sampling_co2");
  const BatchRun run = run_batch({"analyse", example("co2_weekly.csv"), "--layout", "csv", "--out",
                                  folder.string(), "--quiet"});
  ASSERT_EQ(run.status, kAllAnalysed) << run.err;
  const auto series = nlohmann::json::parse(file_text(folder / "summary.json"))["series"][0];
  EXPECT_EQ(series["sampling"]["class"], "gaps");
  EXPECT_EQ(series["sampling"]["missing"], 59);
  EXPECT_LT(series["sampling"]["largest_offset"].get<double>(), 0.06);
  for (double cycle : {1.0, 2.0}) {
    bool found = false;
    for (const auto& peak : series["peaks"])
      found = found || (std::fabs(peak["frequency"].get<double>() - cycle) < 0.06 &&
                        peak["significance"].get<double>() >= 99.0);
    EXPECT_TRUE(found) << cycle << " cycles a year in " << series["peaks"].dump();
  }
  fs::remove_all(folder);
}

// The spectrum of a record with gaps is written and its reconstruction
// refused, failing that series only.
TEST(SamplingChoice, AGappyRecordsSpectrumIsWrittenAndItsReconstructionRefused) {
  const fs::path folder = fresh_folder("sampling_recon");
  write_files(folder);
  const BatchRun run = run_batch({"analyse", (folder / "gappy.txt").string(), "--layout", "multi",
                                  "--columns", "3", "--reconstruct", "peaks", "--out",
                                  folder.string(), "--quiet"});
  EXPECT_EQ(run.status, kSomeFailed);
  EXPECT_NE(run.err.find("series 1 (a) failed: Series a has gaps; the reconstruction needs "
                         "evenly spaced values."),
            std::string::npos)
      << run.err;
  for (const char* name : {"a.spectrum.csv", "a.peaks.csv", "b.recon.csv"})
    EXPECT_TRUE(fs::exists(folder / name)) << name;
  fs::remove_all(folder);
}

}  // namespace
}  // namespace quorvane::cli

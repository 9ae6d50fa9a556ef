// A file of many series: every one analysed into its own files, the same
// bytes whatever the number of jobs, and a failing series reported without
// costing the others their results.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <set>

#include "tests/cli/cli_test_support.h"
#include "tests/cli/ring_width_file.h"

namespace quorvane::cli {
namespace {

using namespace testing;

// Six cores: two sharing an id, one with a character no file name should
// hold, and one too short to analyse (four widths).
fs::path write_cores(const fs::path& folder) {
  fs::create_directories(folder);
  const fs::path file = folder / "cores.rwl";
  std::ofstream out(file);
  write_ring_widths(
      out,
      {synthetic_core("ABC01", 1801, 160, 11.0f, 1), synthetic_core("ABC02", 1795, 200, 23.0f, 2),
       synthetic_core("SHORT", 1806, 4, 5.0f, 3), synthetic_core("DUP", 1850, 120, 7.0f, 4),
       synthetic_core("DUP", 1851, 130, 9.0f, 5), synthetic_core("AB/9", 1900, 90, 13.0f, 6)});
  return file;
}

std::set<std::string> listing(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder))
    if (entry.path().filename() != kLockFileName) names.insert(entry.path().filename());
  return names;
}

TEST(ManySeries, EverySeriesIsWrittenTheSameForAnyNumberOfJobsAndTheShortOneFails) {
  const fs::path folder = fresh_folder("many");
  const fs::path file = write_cores(folder);
  std::array<BatchRun, 2> runs;
  for (int jobs : {1, 2}) {
    runs[jobs - 1] = run_batch({"analyse", file.string(), "--layout", "rwl", "--out",
                                (folder / std::to_string(jobs)).string(), "--jobs",
                                std::to_string(jobs), "--reconstruct", "peaks", "--quiet"});
  }
  for (const BatchRun& run : runs) {
    EXPECT_EQ(run.status, kSomeFailed);
    EXPECT_TRUE(run.out.empty());
    // Only the failure on the error stream, naming the series.
    EXPECT_NE(run.err.find("series 3 (SHORT) failed"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("ABC01"), std::string::npos) << run.err;
  }

  const std::set<std::string> names = listing(folder / "1");
  EXPECT_EQ(names, listing(folder / "2"));
  for (const char* stem : {"ABC01", "ABC02", "DUP", "DUP_2", "AB_9"}) {
    for (const char* kind : {".spectrum.csv", ".peaks.csv", ".recon.csv"})
      EXPECT_EQ(names.count(std::string(stem) + kind), 1u) << stem << kind;
  }
  EXPECT_EQ(names.size(), 5u * 3u + 1u);  // and summary.json, nothing for SHORT, no temporary files
  for (const auto& name : names)
    EXPECT_EQ(file_text(folder / "1" / name), file_text(folder / "2" / name)) << name;

  const auto summary = nlohmann::json::parse(file_text(folder / "1" / "summary.json"));
  ASSERT_EQ(summary["series"].size(), 6u);
  const std::vector<std::string> expected = {"ABC01", "ABC02", "SHORT", "DUP", "DUP", "AB/9"};
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const auto& s = summary["series"][i];
    EXPECT_EQ(s["name"], expected[i]);
    EXPECT_EQ(s["status"], i == 2 ? "failed" : "ok") << i;
  }
  EXPECT_FALSE(summary["series"][2]["message"].get<std::string>().empty());
  EXPECT_TRUE(summary["series"][2]["files"].empty());
  EXPECT_EQ(summary["series"][1]["first_time"], 1795.0);
  EXPECT_EQ(summary["series"][1]["npts"], 200);
  EXPECT_EQ(summary["series"][4]["files"][0], "DUP_2.spectrum.csv");
  fs::remove_all(folder);
}

TEST(ManySeries, ASeriesTheFileLacksOrAFileThatCannotBeReadIsAUsageErrorAndWritesNothing) {
  const fs::path folder = fresh_folder("unreadable");
  const std::string file = write_cores(folder).string(), out = (folder / "out").string();
  std::ofstream(folder / "empty.dat").close();
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{file, "--layout", "rwl", "--series", "ABC03"}, "--series"},
      {{file, "--layout", "rwl", "--series", "7"}, "--series"},
      {{file, "--layout", "rwl", "--series", "0"}, "--series"},
      {{file, "--layout", "rows", "--record-layout", "(1x,i4,12f7.2", "--columns", "12"},
       "cannot read"},
      {{(folder / "empty.dat").string(), "--layout", "single"}, "cannot read"},
      {{(folder / "absent.rwl").string(), "--layout", "rwl"}, "cannot read"},
  };
  for (auto [args, message] : cases) {
    args.insert(args.begin(), "analyse");
    args.insert(args.end(), {"--out", out});
    const BatchRun run = run_batch(args);
    EXPECT_EQ(run.status, kUsageError) << args[1] << run.err;
    EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(out)) << args[1];
  }
  fs::remove_all(folder);
}

TEST(ManySeries, ChosenSeriesComeInTheOrderGivenAndASettingOneCannotHoldFailsThatOneOnly) {
  const fs::path folder = fresh_folder("settings");
  const fs::path file = write_cores(folder);
  // 0.3 lies above the Nyquist frequency of no series (dt = 1), so every
  // series reconstructs it; 0.6 lies above all of them. Series chosen by
  // name and number are analysed in the order given.
  const BatchRun fine =
      run_batch({"analyse", file.string(), "--layout", "rwl", "--series", "ABC02,1", "--reconstruct",
                 "0.3,0", "--out", (folder / "fine").string(), "--quiet"});
  EXPECT_EQ(fine.status, kAllAnalysed) << fine.err;
  const auto summary = nlohmann::json::parse(file_text(folder / "fine" / "summary.json"));
  ASSERT_EQ(summary["series"].size(), 2u);
  EXPECT_EQ(summary["series"][0]["name"], "ABC02");
  EXPECT_EQ(summary["series"][1]["name"], "ABC01");
  EXPECT_EQ(listing(folder / "fine").size(), 2u * 3u + 1u);
  const Csv recon = read_csv(folder / "fine" / "ABC01.recon.csv");
  EXPECT_EQ(recon.header,
            (std::vector<std::string>{"time", "series", "anomaly", "f_0.3", "trend", "sum"}));
  EXPECT_EQ(recon.rows.size(), 160u);
  EXPECT_EQ(recon.rows.front()[0], 1801.0f);
  EXPECT_EQ(recon.rows.back()[0], 1960.0f);

  const BatchRun above =
      run_batch({"analyse", file.string(), "--layout", "rwl", "--series", "ABC01", "--reconstruct",
                 "0.6", "--out", (folder / "above").string(), "--quiet"});
  EXPECT_EQ(above.status, kSomeFailed);
  EXPECT_NE(above.err.find("Nyquist"), std::string::npos) << above.err;
  // The spectrum was analysed and stays written.
  EXPECT_TRUE(fs::exists(folder / "above" / "ABC01.spectrum.csv"));
  EXPECT_FALSE(fs::exists(folder / "above" / "ABC01.recon.csv"));
  fs::remove_all(folder);
}

}  // namespace
}  // namespace quorvane::cli

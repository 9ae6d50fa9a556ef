// The result files: numbers that read back exactly, names that are safe and
// distinct, and files that appear only when complete.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <nlohmann/json.hpp>

#include "cli/files.h"
#include "cli/summary.h"
#include "api/analysis.h"
#include "tests/cli/cli_test_support.h"
#include "tests/recon/recon_test_support.h"

namespace quorvane::cli {
namespace {

using namespace testing;

bool same_bits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(ResultFiles, EveryFloatReadsBackFromItsTextBitForBit) {
  const float cases[] = {0.0f,    -0.0f,         0.1f,        1.0f / 3.0f, 1e-45f,          FLT_MIN,
                         FLT_MAX, -FLT_MAX,      16777217.0f, 123456.79f,  1.17549421e-38f, 3.0e-5f,
                         1e10f,   0.00097656250f};
  for (float value : cases) {
    const std::string text = number_text(value);
    EXPECT_TRUE(same_bits(std::strtof(text.c_str(), nullptr), value)) << text;
    // A float never needs more than 9 significant digits.
    EXPECT_LE(text.size(), 15u) << text;
  }
  EXPECT_EQ(number_text(0.1f), "0.1");
  EXPECT_EQ(number_text(1700.0f), "1700");
  EXPECT_EQ(number_text(std::numeric_limits<float>::infinity()), "inf");
}

TEST(ResultFiles, SpectrumFileHoldsTheEngineResultsExactly) {
  const fs::path folder = fresh_folder("roundtrip");
  const BatchRun run = run_batch(sunspots(folder, {}));
  ASSERT_EQ(run.status, kAllAnalysed) << run.err;
  const Csv csv = read_csv(folder / "sunspots.spectrum.csv");
  EXPECT_EQ(csv.header, (std::vector<std::string>{"frequency", "period", "estimate", "reshaped",
                                                  "harmonic", "median", "background", "level50",
                                                  "level90", "level95", "level99", "F", "F50",
                                                  "F90", "F95", "F99", "F99.5", "F99.9"}));

  // The same analysis through the shared analysis steps.
  api::AnalysisRecord r;
  r.y = recon::testing::sunspots();
  r.npts = static_cast<int>(r.y.size());
  r.dt = 1.0f;
  api::set_defaults(r);
  ASSERT_TRUE(api::run_spectrum(r, {}).ok);
  const spectral::SpecResults& s = r.spectra;

  // One row per filled band entry, every float as the engine left it.
  ASSERT_EQ(csv.rows.size(), static_cast<std::size_t>(s.nf - 1));
  const std::vector<std::pair<std::string, const std::vector<float>*>> arrays = {
      {"estimate", &s.specraw0}, {"reshaped", &s.specresh0},   {"harmonic", &s.harmonic0},
      {"median", &s.specmed0},   {"background", &s.specback0}, {"F", &s.ftest}};
  for (const auto& [name, values] : arrays) {
    const std::size_t c = csv.column(name);
    for (std::size_t i = 0; i < csv.rows.size(); ++i)
      ASSERT_TRUE(same_bits(csv.rows[i][c], (*values)[i])) << name << " " << i;
  }
  for (std::size_t i = 0; i < csv.rows.size(); ++i) {
    ASSERT_TRUE(same_bits(csv.rows[i][0], s.f0 + static_cast<float>(i) * s.df)) << i;
    ASSERT_TRUE(same_bits(csv.rows[i][csv.column("level99")], s.specback0[i] * s.conf[3])) << i;
    ASSERT_TRUE(same_bits(csv.rows[i][csv.column("F99.9")], s.fconf[5])) << i;
  }
  // The first entry lies at frequency 0: an infinite period.
  EXPECT_EQ(csv.cells[0][1], "inf");
  fs::remove_all(folder);

  // One taper has no F-test: its columns stay, holding NaN (never a 0 that
  // every level passes), and the summary says why.
  ASSERT_EQ(run_batch(sunspots(folder, {"--tapers", "1"})).status, kAllAnalysed);
  const Csv one = read_csv(folder / "sunspots.spectrum.csv");
  const Csv peaks = read_csv(folder / "sunspots.peaks.csv");
  ASSERT_FALSE(peaks.rows.empty());
  for (const auto& [table, names] :
       {std::pair{&one, std::vector<std::string>{"F", "F50", "F99.9"}},
        std::pair{&peaks, std::vector<std::string>{"F", "line_frequency", "line_F",
                                                   "line_significance", "line_frequency_sd"}}}) {
    for (const std::string& name : names) {
      ASSERT_LT(table->column(name), table->header.size()) << name;
      for (const auto& row : table->rows) EXPECT_TRUE(std::isnan(row[table->column(name)])) << name;
    }
  }
  const auto series = nlohmann::json::parse(file_text(folder / "summary.json"))["series"][0];
  EXPECT_NE(series["notes"][0].get<std::string>().find("needs at least two tapers"), std::string::npos);
  EXPECT_TRUE(series["peaks"][0]["F"].is_null());
  fs::remove_all(folder);
}

TEST(ResultFiles, StemsAreSafeAndDistinctEvenIgnoringCase) {
  const std::vector<std::pair<std::vector<std::string>, std::vector<std::string>>> cases = {
      {{"ABC01   ", "ABC02   "}, {"ABC01", "ABC02"}},
      {{"DUP     ", "DUP     ", "DUP     "}, {"DUP", "DUP_2", "DUP_3"}},
      {{"Core", "CORE"}, {"Core", "CORE_2"}},
      {{"a/b c*d ", "../x    ", "        "}, {"a_b_c_d", "_._x", "plot"}},
      // A suffixed stem may itself be a later series' name.
      {{"X", "X", "X_2"}, {"X", "X_2", "X_2_2"}},
  };
  for (const auto& [titles, stems] : cases) EXPECT_EQ(unique_stems(titles), stems);
}

TEST(ResultFiles, AFileAppearsOnlyComplete) {
  const fs::path folder = fresh_folder("atomic");
  fs::create_directories(folder);
  const fs::path path = folder / "table.csv";
  std::string error;
  ASSERT_TRUE(write_file_atomically(path.string(), "old\n", error)) << error;
  ASSERT_TRUE(write_file_atomically(path.string(), "a,b\n1,2\n", error)) << error;
  EXPECT_EQ(file_text(path), "a,b\n1,2\n");
  // Ordinary permissions, not those of a private temporary file.
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_NE(info.st_mode & S_IRGRP, 0u);
  // Nothing else is left in the folder.
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);

  // A folder that does not exist: refused with the reason, nothing created.
  EXPECT_FALSE(write_file_atomically((folder / "missing" / "t.csv").string(), "x", error));
  EXPECT_NE(error.find("missing"), std::string::npos) << error;
  EXPECT_FALSE(fs::exists(folder / "missing"));
  fs::remove_all(folder);
}

// The plots a run draws follow the dialogue's display toggles: the
// harmonic assumption has no median or confidence-level plot.
TEST(PlotFiles, TheDialoguesPlotsAreDrawnUnderItsFileNames) {
  struct Case {
    std::vector<std::string> extra;
    std::vector<std::string> plots;
  };
  const std::vector<Case> cases = {
      {{"--reconstruct", "trend"},
       {"sunspots_raw.svg", "sunspots_reshaped.svg", "sunspots_median.svg", "sunspots_ftest.svg",
        "sunspots_recon.svg"}},
      {{"--signal", "harmonic"}, {"sunspots_reshaped.svg", "sunspots_ftest.svg"}},
  };
  for (const auto& c : cases) {
    const fs::path folder = fresh_folder("plots");
    std::vector<std::string> extra = {"--plots", "svg"};
    extra.insert(extra.end(), c.extra.begin(), c.extra.end());
    const BatchRun run = run_batch(sunspots(folder, extra));
    ASSERT_EQ(run.status, kAllAnalysed) << run.err;
    std::vector<std::string> drawn;
    for (const auto& entry : fs::directory_iterator(folder)) {
      const std::string name = entry.path().filename();
      if (name.size() > 4 && name.substr(name.size() - 4) == ".svg") {
        drawn.push_back(name);
        EXPECT_NE(file_text(entry.path()).find("<svg"), std::string::npos) << name;
      }
    }
    std::sort(drawn.begin(), drawn.end());
    std::vector<std::string> expected = c.plots;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(drawn, expected);
    fs::remove_all(folder);
  }
}

TEST(Summary, NamesThatAreNotUtf8StillGiveValidJson) {
  Options options;
  options.input.file = "cores\xF1.rwl";
  options.input.layout = 1;
  SeriesResult result;
  result.name = "Ni\xF1o";
  result.number = 1;
  result.ok = false;
  result.message = "too short";
  const std::string text = summary_text(options, {result});
  const auto summary = nlohmann::json::parse(text);
  EXPECT_EQ(summary["series"][0]["name"], "Ni\xEF\xBF\xBDo");
  EXPECT_EQ(summary["series"][0]["status"], "failed");
  EXPECT_EQ(summary["series"][0]["message"], "too short");
}

}  // namespace
}  // namespace quorvane::cli

// Under the leak checker: fontconfig and libltdl (font and driver loading
// inside PLplot's file devices) keep caches for the life of the process.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n"
         "leak:libltdl.so\n";
}

// quorvane coherence: two real monthly records that share the annual cycle,
// the span two files share, and what cannot be analysed as a pair.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <nlohmann/json.hpp>

#include "tests/cli/cli_test_support.h"

namespace quorvane::cli {
namespace {

using namespace testing;

TEST(CoherenceCommand, MaleAndFemaleLungDeathsShareTheAnnualCycleInPhase) {
  const fs::path folder = fresh_folder("coherence_deaths");
  const BatchRun run = run_batch({"coherence", example("uk_lung_deaths.csv"), "--layout", "csv",
                                  "--series-a", "male", "--series-b", "female", "--out",
                                  folder.string(), "--quiet"});
  ASSERT_EQ(run.status, 0) << run.err;
  const Csv csv = read_csv(folder / "male__female.coherence.csv");
  const std::vector<std::string> header = {
      "frequency", "period", "coherence", "coherence_lower", "coherence_upper",
      "phase", "phase_lower", "phase_upper", "gain", "spectrum_a", "spectrum_b",
      "level50", "level90", "level95", "level99"};
  EXPECT_EQ(csv.header, header);
  const auto summary =
      nlohmann::json::parse(file_text(folder / "summary.json"));
  EXPECT_EQ(summary["span"]["values"], 72);
  EXPECT_EQ(summary["span"]["first"], 1974);
  // The maxima come as rows under one header.
  const auto& coherent = summary["coherent"];
  const std::vector<std::string> columns = coherent["columns"];
  EXPECT_EQ(columns, (std::vector<std::string>{"frequency", "period", "coherence",
                                               "coherence_lower", "coherence_upper", "phase",
                                               "phase_lower", "phase_upper", "level"}));
  bool annual = false;
  for (const auto& row : coherent["rows"]) {
    ASSERT_EQ(row.size(), columns.size());
    nlohmann::json m;
    for (std::size_t c = 0; c < columns.size(); ++c) m[columns[c]] = row[c];
    if (std::fabs(m["frequency"].get<double>() - 1.0) > 0.1) continue;
    annual = true;
    EXPECT_EQ(m["level"], 99);
    EXPECT_FLOAT_EQ(m["period"].get<float>(), 1.0f / m["frequency"].get<float>());
    EXPECT_LT(std::fabs(m["phase"].get<double>()), 15.0);
    EXPECT_LE(m["phase_lower"].get<double>(), 0.0);
    EXPECT_GE(m["phase_upper"].get<double>(), 0.0);
    EXPECT_LE(m["coherence_lower"].get<double>(), m["coherence"].get<double>());
    EXPECT_GE(m["coherence_upper"].get<double>(), m["coherence"].get<double>());
  }
  EXPECT_TRUE(annual) << summary["coherent"].dump();
  fs::remove_all(folder);
}

// A two-column file of the line sin(0.3 t) plus a little of sin(1.1 t) at
// the times t = first, first + step, ..., `count` of them.
void write_record(const fs::path& path, double first, double step, int count) {
  std::ofstream file(path);
  file << "t y\n";
  for (int i = 0; i < count; ++i) {
    const double t = first + step * i;
    file << t << ' ' << std::sin(0.3 * t) + 0.3 * std::sin(1.1 * t + i % 7) << '\n';
  }
}

TEST(CoherenceCommand, AnalysesTheSharedSpanAndRefusesWhatCannotBePaired) {
  const fs::path folder = fresh_folder("coherence_pairs");
  fs::create_directories(folder);
  const auto file = [&](const std::string& name) { return (folder / name).string(); };
  write_record(file("a.txt"), 0, 1, 300);
  write_record(file("later.txt"), 50, 1, 350);
  write_record(file("coarse.txt"), 0, 2, 150);
  write_record(file("between.txt"), 0.5, 1, 300);
  write_record(file("after.txt"), 400, 1, 100);
  write_record(file("touching.txt"), 296, 1, 100);
  {
    std::ofstream gappy(file("gappy.txt"));
    gappy << "t y\n";
    for (int t = 0; t < 300; ++t)
      if (t < 100 || t >= 150) gappy << t << ' ' << std::sin(0.3 * t) << '\n';
  }
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* says;  // on the error stream, or in the summary's span
  };
  const Case cases[] = {
      {{file("a.txt"), file("later.txt")}, 0, "\"values\": 250"},
      // Off one grid: each record on its own times over the span both cover.
      {{file("a.txt"), file("coarse.txt")}, 0, "\"values_b\": 150"},
      {{file("a.txt"), file("between.txt")}, 0, "\"method\": \"own_times\""},
      {{file("gappy.txt"), file("a.txt")}, 0, "\"class\": \"gaps\""},
      {{file("a.txt"), file("coarse.txt"), "--sampling", "interpolate"}, 0,
       "lowers the coherence at high frequencies"},
      {{file("a.txt"), file("coarse.txt"), "--sampling", "interpolate", "--common-step", "3"}, 0,
       "\"step\": 3"},
      {{file("a.txt"), file("after.txt")}, 1, "do not overlap"},
      {{file("a.txt"), file("touching.txt")}, 1, "share 4 values"},
      {{file("a.txt"), file("coarse.txt"), "--sampling", "gaps"}, 2, "auto or interpolate"},
      {{file("a.txt"), file("coarse.txt"), "--common-step", "2"}, 2, "--common-step applies"},
      {{file("a.txt")}, 2, "holds 1 series; give FILE_B"},
      {{file("a.txt"), "--skip-b", "1"}, 2, "--skip-b describes FILE_B"},
      {{file("a.txt"), file("later.txt"), "--seed", "4"}, 2, "--seed applies to"},
      {{file("a.txt"), file("later.txt"), "--estimate", "adaptive", "--significance",
        "chisquare"},
       2, "has no chisquare level"},
      {{file("a.txt"), file("later.txt"), "--tapers", "1"}, 2, "--tapers"},
  };
  for (const Case& c : cases) {
    const fs::path out = folder / "out";
    fs::remove_all(out);
    std::vector<std::string> args = {"coherence", "--layout", "two", "--out", out.string(),
                                     "--quiet"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const BatchRun run = run_batch(args);
    EXPECT_EQ(run.status, c.status) << c.says << run.err;
    const std::string where = c.status == 0 ? file_text(out / "summary.json") : run.err;
    EXPECT_NE(where.find(c.says), std::string::npos) << where;
    // Nothing half-written; a usage error writes nothing at all.
    std::error_code none;
    for (const auto& entry : fs::directory_iterator(out, none)) {
      EXPECT_FALSE(half_written(entry.path())) << entry.path();
      EXPECT_NE(c.status, 2) << entry.path();
    }
  }
  fs::remove_all(folder);
}

}  // namespace
}  // namespace quorvane::cli

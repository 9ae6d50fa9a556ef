// Nothing of a file is lost without a word: every column a csv header names
// is analysed or named with the reason, a record split by an unreadable
// line says where, names of any length keep their series, and messages
// name no setting the user did not give.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <nlohmann/json.hpp>

#include "tests/cli/cli_test_support.h"

namespace quorvane::cli {
namespace {

using namespace testing;

std::string value(int i) { return std::to_string(10.0 + std::sin(0.7 * i)); }

// `rows` lines "t,<cells of row i>" for t = 0..rows-1 after `head`.
std::vector<std::string> csv_rows(std::vector<std::string> head, int from, int rows,
                                  const std::string& tail_cells) {
  for (int i = from; i < from + rows; ++i)
    head.push_back(std::to_string(i) + "," + value(i) + tail_cells);
  return head;
}

// Two-column pairs t value for t = from..from+rows-1.
void add_pairs(std::vector<std::string>& lines, int from, int rows) {
  for (int i = from; i < from + rows; ++i) lines.push_back(std::to_string(i) + " " + value(i));
}

struct ReadingCase {
  std::string name;
  std::vector<std::string> lines;
  std::vector<std::string> options;
  int status = kAllAnalysed;
  std::vector<std::string> err = {};      // texts the error stream holds
  std::vector<std::string> series = {};   // names in the summary
  std::vector<std::string> skipped = {};  // skipped columns in the summary
  std::size_t notes = 0;                  // reading notes in the summary
  std::vector<std::pair<int, int>> lines_of = {};  // first and last line of each series
};

std::vector<ReadingCase> reading_cases() {
  const std::vector<std::string> csv = {"--layout", "csv"};
  const std::vector<std::string> two = {"--layout", "two"};
  std::vector<ReadingCase> cases;
  // A first cell out of range makes its column one of numbers, refused there.
  for (const std::string first : {"inf", "-Infinity", "1e39", "1e400"}) {
    auto lines = csv_rows({"t,a,b,c", "0,0.1," + first + ",1e39"}, 1, 119, ",1,2");
    cases.push_back({"csv " + first, lines, csv, kUsageError,
                     {"Line 2, column 3 (b): '" + first + "' is a number beyond single precision"}});
  }
  // Text and empty columns are passed over by name, with the reason.
  cases.push_back({"csv text", csv_rows({"t,a,site,empty"}, 0, 60, ",Paris,"), csv, kAllAnalysed,
                   {"column site gives no series: text ('Paris' on line 2), not numbers",
                    "column empty gives no series: no values (every cell is missing)"},
                   {"a"}, {"site", "empty"}, 0, {{2, 61}}});
  // An unreadable time splits a two-column record; the split is told.
  for (const std::string bad : {"nan 0.5", "inf 0.5", "1e300 0.5", "7 nan"}) {
    std::vector<std::string> lines = {"t       value"};
    add_pairs(lines, 0, 40);
    lines.push_back(bad);
    add_pairs(lines, 41, 40);
    // The rest is named by characters 9-16 of the line that split it.
    const std::string rest = bad.size() > 8 ? bad.substr(8) : "";
    cases.push_back({"two " + bad, lines, two, kAllAnalysed,
                     {"note: Line 42 ('" + bad + "') holds no readable time and value: series "
                      "'value' ends at line 41, and the lines after it form a new series named '" +
                      rest + "'"},
                     {"value", rest}, {}, 1, {{2, 41}, {43, 82}}});
  }
  // A multiple-column file refuses an unreadable X beside values.
  cases.push_back({"multi nan", {"yr a", "1 0.5", "nan 0.7", "3 0.8"},
                   {"--layout", "multi", "--columns", "2"}, kUsageError, {"error reading iyr"}});
  // Gaps over more than half the span are analysed with a note.
  {
    auto lines = csv_rows({"t,a"}, 0, 30, "");
    lines = csv_rows(lines, 100, 30, "");
    cases.push_back({"csv gaps", lines, csv, kAllAnalysed,
                     {"warning: Series a has gaps over more than half its span: 70 of 130"},
                     {"a"}, {}, 0, {{2, 61}}});
  }
  // A smoothing width no one gave is refused as the derived value it is.
  cases.push_back({"csv smoothing", csv_rows({"t,a"}, 0, 60, ""),
                   {"--layout", "csv", "--resolution", "20", "--tapers", "8", "--band", "0:0.05"},
                   kSomeFailed,
                   {"failed: The median smoothing width 0.6666667, derived as the larger of the "
                    "bandwidth 0.6666667 and a fifth of the band, spans"},
                   {"a"}, {}, 0, {{2, 61}}});
  // Long names keep their series; a huge one is shown cut to 1000 bytes.
  {
    const std::string a(300, 'a'), huge(5000, 'h');
    std::vector<std::string> lines = {"t," + a + "," + a + "b," + huge};
    for (int i = 0; i < 60; ++i)
      lines.push_back(std::to_string(i) + "," + value(i) + "," + value(i + 1) + "," +
                      (i < 10 || i >= 50 ? value(i + 2) : ""));
    cases.push_back({"csv long names", lines, csv, kAllAnalysed,
                     {"warning: Series " + std::string(1000, 'h') + "... has gaps over more"},
                     {a, a + "b", std::string(1000, 'h') + "..."}, {}, 0,
                     {{2, 61}, {2, 61}, {2, 61}}});
  }
  // A series without a name leaves no double blank in its messages.
  cases.push_back({"two unnamed", {"t", "0 1.5"}, two, kSomeFailed,
                   {"failed: Series has 1 value; at least 2 are needed."}, {""}, {}, 0, {{2, 2}}});
  return cases;
}

TEST(ReadingReport, WhatIsNotAnalysedIsToldWithItsReason) {
  for (const ReadingCase& c : reading_cases()) {
    fs::path folder;
    const BatchRun run = analyse_lines("reading", c.lines, c.options, folder);
    ASSERT_EQ(run.status, c.status) << c.name << "\n" << run.err;
    for (const auto& text : c.err)
      EXPECT_NE(run.err.find(text), std::string::npos) << c.name << "\n" << run.err;
    // No double blank for a missing name, no advice on a setting not given.
    EXPECT_EQ(run.err.find("eries  "), std::string::npos) << c.name << "\n" << run.err;
    EXPECT_EQ(run.err.find("choose"), std::string::npos) << c.name << "\n" << run.err;
    EXPECT_LT(run.err.size(), 3000u) << c.name;
    if (c.status == kUsageError) continue;
    const auto summary = nlohmann::json::parse(file_text(folder / "out" / "summary.json"));
    ASSERT_EQ(summary["series"].size(), c.series.size()) << c.name;
    for (std::size_t k = 0; k < c.series.size(); ++k) {
      const auto& s = summary["series"][k];
      EXPECT_EQ(s["name"], c.series[k]) << c.name;
      EXPECT_EQ(s["first_line"], c.lines_of[k].first) << c.name << " " << k;
      EXPECT_EQ(s["last_line"], c.lines_of[k].second) << c.name << " " << k;
      // Written under a name of at most 100 bytes before its suffix.
      for (const std::string file : s["files"]) {
        EXPECT_LE(file.find('.'), 100u) << c.name;
        EXPECT_TRUE(fs::exists(folder / "out" / file)) << c.name << " " << file;
      }
    }
    const auto& input = summary["input"];
    if (c.options[1] == "csv") {
      ASSERT_EQ(input["skipped_columns"].size(), c.skipped.size()) << c.name;
      for (std::size_t k = 0; k < c.skipped.size(); ++k)
        EXPECT_EQ(input["skipped_columns"][k]["name"], c.skipped[k]) << c.name;
    }
    EXPECT_EQ(input.value("notes", nlohmann::json::array()).size(), c.notes) << c.name;
  }
}

}  // namespace
}  // namespace quorvane::cli

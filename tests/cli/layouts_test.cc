// Each layout's options reach its reader: the series a file holds in the
// layout, with their lengths and first times, as the summary reports them.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <nlohmann/json.hpp>

#include "tests/cli/cli_test_support.h"

namespace quorvane::cli {
namespace {

using namespace testing;

std::string number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", value);
  return text;
}

struct LayoutCase {
  std::string name;
  std::vector<std::string> lines;
  std::vector<std::string> options;
  std::vector<std::string> series;  // names, in file order
  int npts = 0;
  float first_time = 0.0f;
};

std::vector<LayoutCase> layout_cases() {
  const auto wave = [](int i, int k) { return 10.0 + std::sin(0.7 * i + k) + 0.1 * k; };
  std::vector<std::string> two = {"preamble", "more", "depth   value"};
  std::vector<std::string> multi = {"yr a b c"};
  std::vector<std::string> csv = {"depth;\"b\";a;note"};
  // Rows come in blocks, each after a heading line.
  std::vector<std::string> rows = {"file title", "source", "block heading"};
  for (int i = 0; i < 30; ++i) {
    two.push_back(number(2.5 * i) + " " + number(wave(i, 0)));
    // Column b misses its first two cells: it starts two years later.
    multi.push_back(std::to_string(1900 + i) + " " + number(wave(i, 1)) + " " +
                    (i < 2 ? "*" : number(wave(i, 2))) + " " + number(wave(i, 3)));
    char row[64];
    std::snprintf(row, sizeof row, " %4d%6.2f%6.2f%6.2f", 1801 + i, wave(i, 1), wave(i, 2),
                  wave(i, 3));
    rows.push_back(row);
    csv.push_back(number(0.5 * i) + ";" + number(wave(i, 1)) + ";" + number(wave(i, 2)) + ";x");
  }
  return {
      {"two", two, {"--layout", "two", "--skip", "2"}, {"value"}, 30, 0.0f},
      {"multi",
       multi,
       {"--layout", "multi", "--columns", "4", "--sentinel", "*"},
       {"a", "b", "c"},
       30,
       1900.0f},
      {"rows",
       rows,
       {"--layout", "rows", "--skip", "2", "--record-layout", "(1x,i4,3f6.2)", "--columns", "3"},
       {"series_1", "series_2", "series_3"},
       30,
       1.0f},
      {"csv", csv, {"--layout", "csv", "--time-column", "depth", "--value-columns", "a,b"},
       {"a", "b"}, 30, 0.0f},
  };
}

TEST(Layouts, EachLayoutsOptionsReachItsReader) {
  for (const LayoutCase& c : layout_cases()) {
    fs::path folder;
    const BatchRun run = analyse_lines("layout_" + c.name, c.lines, c.options, folder);
    ASSERT_EQ(run.status, kAllAnalysed) << c.name << "\n" << run.err;
    const auto summary = nlohmann::json::parse(file_text(folder / "out" / "summary.json"));
    ASSERT_EQ(summary["series"].size(), c.series.size()) << c.name;
    for (std::size_t k = 0; k < c.series.size(); ++k) {
      const auto& s = summary["series"][k];
      EXPECT_EQ(s["name"], c.series[k]) << c.name;
      // Column b misses its first two cells, so it is two values shorter.
      const int npts = c.name == "multi" && k == 1 ? c.npts - 2 : c.npts;
      EXPECT_EQ(s["npts"], npts) << c.name << " " << k;
      const float first = c.name == "multi" && k == 1 ? 1902.0f : c.first_time;
      EXPECT_EQ(s["first_time"].get<float>(), first) << c.name << " " << k;
    }
    fs::remove_all(folder);
  }
}

}  // namespace
}  // namespace quorvane::cli

// The single, two and multiple column readers on the help screens' examples
// and on files that probe their rules.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "input/help_screens.h"
#include "input/readers.h"
#include "input_test_support.h"

namespace quorvane::input {
namespace {

using namespace testing;

TEST(SingleColumn, HelpExampleGivesOneSeriesPerBlock) {
  SeriesTable table;
  std::string out;
  ASSERT_TRUE(read_table(rd1col, help_example_file(3), "", table, &out));
  EXPECT_EQ(out, "");
  ASSERT_EQ(table.series.size(), 3u);
  EXPECT_EQ(table.series[0].name, "abscdef ");
  EXPECT_EQ(table.series[0].iyr1, 1771);
  EXPECT_EQ(table.series[0].iyrn, 1773);
  EXPECT_EQ(table.series[0].values, (std::vector<float>{0.1f, 0.2f, 0.3f}));
  EXPECT_EQ(table.series[1].iyr1, 1772);
  EXPECT_EQ(table.series[1].values.size(), 2u);
  // The last block ends at the end of the file and still counts.
  EXPECT_EQ(table.series[2].values, (std::vector<float>{0.5f, 0.7f, 0.6f, 0.9f}));
}

TEST(SingleColumn, OnlyTheFirstNumberOfALineIsAValueAndNamesAreCutToEight) {
  SeriesTable table;
  ASSERT_TRUE(read_table(rd1col, {"a long series name", "1900", "1.5 99", "", "2.5", "next", "2000", "7"},
                   "", table));
  ASSERT_EQ(table.series.size(), 2u);
  EXPECT_EQ(table.series[0].name, "a long s");
  EXPECT_EQ(table.series[0].values, (std::vector<float>{1.5f, 2.5f}));
  EXPECT_EQ(table.series[1].iyr1, 2000);
}

TEST(TwoColumn, HelpExampleGivesTwoPairsWithTheirHeaders) {
  SeriesTable table;
  ASSERT_TRUE(read_table(rd2col, help_example_file(4), "0\n", table));
  ASSERT_EQ(table.series.size(), 2u);
  const Series& first = table.series[0];
  EXPECT_EQ(first.x_name, "Age     ");
  EXPECT_EQ(first.name, " Ti1 (%)");
  EXPECT_EQ(table.series[1].name, " Ti2 (%)");
  ASSERT_EQ(first.x.size(), 8u);
  EXPECT_FLOAT_EQ(first.x[2], 816.9f);
  EXPECT_FLOAT_EQ(first.values[0], 0.81f);
  EXPECT_EQ(first.iyr1, 798);
  EXPECT_EQ(first.iyrn, 893);
}

TEST(TwoColumn, SkippedLinesUnorderedXAndASkipBeyondTheFile) {
  SeriesTable table;
  ASSERT_TRUE(read_table(rd2col, {"preamble", "more", "depth    value", "5 1", "3,2", "9 3"}, "2\n", table));
  ASSERT_EQ(table.series.size(), 1u);
  EXPECT_EQ(table.series[0].x, (std::vector<float>{5.0f, 3.0f, 9.0f}));
  EXPECT_EQ(table.series[0].values, (std::vector<float>{1.0f, 2.0f, 3.0f}));

  std::string out;
  EXPECT_FALSE(read_table(rd2col, {"x y", "1 2"}, "9\n", table, &out));
  EXPECT_TRUE(ends_with(out, " Cannot skip 9 lines: the file has only 2.\n"));
}

TEST(MultipleColumns, SentinelsDropMissingCells) {
  SeriesTable table;
  ASSERT_TRUE(read_table(rdmcol, help_example_file(5, 1), "2\n6\n*\n", table));
  ASSERT_EQ(table.series.size(), 5u);
  EXPECT_EQ(table.series[0].name, "AB01    ");
  EXPECT_EQ(table.series[0].values.size(), 14u);
  // Missing in 1944 and 1945: the series starts in 1946.
  EXPECT_EQ(table.series[1].iyr1, 1946);
  EXPECT_EQ(table.series[1].values.size(), 12u);
  // Missing in 1950: 13 values packed from 1944, so the last year is 1956.
  EXPECT_EQ(table.series[3].values.size(), 13u);
  EXPECT_EQ(table.series[3].iyrn, 1956);
  EXPECT_FLOAT_EQ(table.series[3].values[6], 0.609f);

  ASSERT_TRUE(read_table(rdmcol, help_example_file(5, 2), "2\n5\n-9.9\n", table));
  ASSERT_EQ(table.series.size(), 4u);
  EXPECT_EQ(table.series[0].iyr1, 1943);
  EXPECT_EQ(table.series[0].values.size(), 11u);
  EXPECT_EQ(table.series[2].values.size(), 12u);
}

TEST(MultipleColumns, RowsContinueOnTheNextLineAndLongNumbersKeepTheirDigits) {
  SeriesTable table;
  ASSERT_TRUE(read_table(rdmcol, {"yr a b extra", "1900 0.123456789", "2.5", "1901 1 2 ignored"},
                   "0\n3\n*\n", table));
  ASSERT_EQ(table.series.size(), 2u);
  EXPECT_EQ(table.series[0].values, (std::vector<float>{0.123456789f, 1.0f}));
  EXPECT_EQ(table.series[1].values, (std::vector<float>{2.5f, 2.0f}));

  std::string out;
  EXPECT_FALSE(read_table(rdmcol, {"yr a", "19x0 1.0"}, "0\n2\n*\n", table, &out));
  EXPECT_TRUE(ends_with(out, " error reading iyr\n"));
}

}  // namespace
}  // namespace quorvane::input

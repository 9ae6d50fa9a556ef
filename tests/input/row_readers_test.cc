// The monthly climate and row-wise readers on the help screens' examples and
// on files that probe their block rules.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "input/help_screens.h"
#include "input/readers.h"
#include "input_test_support.h"

namespace quorvane::input {
namespace {

using namespace testing;

TEST(MonthlyClimate, HelpExampleGivesOneSeriesPerGridCell) {
  SeriesTable table;
  std::string out;
  ASSERT_TRUE(read_table(rdmet, help_example_file(6), "5\n12\n0.01\n", table, &out));
  EXPECT_EQ(out, "\n Enter number of lines to skip from top of file : "
                 " Enter the number of climate variables/line : "
                 " If your data are in integer format enter a multiplier\n"
                 " to rescale their values to the proper units. Otherwise\n"
                 " enter a [1.0] : ");
  EXPECT_EQ(table.nvar, 12);
  ASSERT_EQ(table.series.size(), 2u);
  for (const Series& cell : table.series) {
    EXPECT_EQ(cell.iyr1, 1901);
    EXPECT_EQ(cell.iyrn, 1904);
    EXPECT_EQ(cell.values.size(), 48u);
  }
  EXPECT_EQ(table.series[0].name, "Cell___1");
  EXPECT_EQ(table.series[1].name, "Cell___2");
  EXPECT_FLOAT_EQ(table.series[0].values[0], 50.0f * 0.01f);
  EXPECT_FLOAT_EQ(table.series[0].values[12], 77.0f * 0.01f);
}

TEST(MonthlyClimate, SplitRowsIncompleteLastRowsAndAnEmptyMultiplierLine) {
  SeriesTable table;
  ASSERT_TRUE(read_table(rdmet, {"block one", "1901 1 2", "3 4", "1902 5 6 7 8", "block two",
                           "1950 1 1 1 1", "1951 1"},
                   "0\n4\n\n2\n", table));
  ASSERT_EQ(table.series.size(), 2u);
  EXPECT_EQ(table.series[0].values, (std::vector<float>{2, 4, 6, 8, 10, 12, 14, 16}));
  EXPECT_EQ(table.series[0].iyrn, 1902);
  EXPECT_EQ(table.series[1].iyr1, 1950);
  EXPECT_EQ(table.series[1].values.size(), 4u);
}

TEST(MonthlyClimate, ManyBlocksAreNamedByNumberAndZeroVariablesAreAskedAgain) {
  std::vector<std::string> lines;
  for (int k = 1; k <= 12; ++k) lines.insert(lines.end(), {"cell " + std::to_string(k), "2000 1"});
  SeriesTable table;
  std::string out;
  ASSERT_TRUE(read_table(rdmet, lines, "0\n0\n1\n1\n", table, &out));
  EXPECT_NE(out.find(" Enter the number of climate variables/line : "
                     " There must be at least 1 variable per line.\n"
                     " Enter the number of climate variables/line : "),
            std::string::npos);
  ASSERT_EQ(table.series.size(), 12u);
  EXPECT_EQ(table.series[11].name, "Cell__12");
}

TEST(RowWise, HelpExampleGivesTheSecondColumnOfEveryRow) {
  SeriesTable table;
  std::string out;
  ASSERT_TRUE(read_table(rdrows, help_example_file(7), "5\n(1x,i4,7x,f7.2)\n1\n", table, &out));
  EXPECT_EQ(out, "\n Enter number of lines to skip from top of file : \n"
                 " Enter format [within ( parentheses )] : \n"
                 " Enter number of columns to read: ");
  ASSERT_EQ(table.series.size(), 1u);
  const Series& column = table.series[0];
  EXPECT_EQ(column.name, "Col____1");
  EXPECT_EQ(column.iyr1, 1);
  EXPECT_EQ(column.iyrn, 9);
  EXPECT_EQ(column.values, (std::vector<float>{1.52f, -3.45f, -3.07f, -3.70f, -0.19f, -3.25f,
                                               -2.64f, 1.41f, -2.70f}));
  ASSERT_TRUE(read_table(rdrows, help_example_file(7), "5\n(1x,i4,7x,f7.2)\n0\n", table));
  EXPECT_TRUE(table.series.empty());
}

TEST(RowWise, TwelveColumnsImpliedDecimalsAndBlankLines) {
  std::string row = "1901";
  for (int m = 1; m <= 12; ++m) row += "  " + std::to_string(10 + m);
  SeriesTable table;
  ASSERT_TRUE(read_table(rdrows, {"header", row, "", "header", row}, "0\n(i4,12f4.1)\n12\n", table));
  ASSERT_EQ(table.series.size(), 12u);
  EXPECT_EQ(table.series[11].name, "Col___12");
  // The blank line ends the block rather than reading as a row of zeros.
  EXPECT_EQ(table.series[0].values, (std::vector<float>{1.1f, 1.1f}));
  EXPECT_FLOAT_EQ(table.series[11].values[1], 2.2f);
}

TEST(RowWise, UnusableLayoutsAreReported) {
  SeriesTable table;
  std::string out;
  EXPECT_FALSE(read_table(rdrows, help_example_file(7), "5\n(1x,i4,7x,f7.2\n", table, &out));
  EXPECT_TRUE(ends_with(out, " Enter format [within ( parentheses )] : "
                             " The format (1x,i4,7x,f7.2 cannot be used:\n"
                             " missing ')' at position 15.\n"));
  for (const char* layout : {"(1x,f5.0,7x,f7.2)", "(10x)", "(i4,a7)"}) {
    EXPECT_FALSE(read_table(rdrows, help_example_file(7), std::string("0\n") + layout + "\n", table, &out));
    EXPECT_NE(out.find(std::string(" The format ") + layout), std::string::npos) << layout;
  }
}

}  // namespace
}  // namespace quorvane::input

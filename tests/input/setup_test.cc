// The input dialogue as a whole: format menu, reading, selection, time step,
// view and confirmation, compared as complete transcripts.
#include "input/setup.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "input/help_screens.h"
#include "input_test_support.h"

namespace quorvane::input {
namespace {

using namespace testing;

const std::vector<std::string> kTwoSingleColumns = {"abscdef", "1771", "0.1", "0.2", "0.3",
                                                    "bbscdef", "1772", "0.2", "0.4"};
const std::string kRead = "\n\n Input data read successfully\n";
const std::string kTwoSeriesMenu = kSelectionHead + "    1) abscdef    2) bbscdef \n" +
                                   kSelectionRule + " Select a series to analyse [1-  2] : ";

TEST(SetupDialogue, AnswerOutsideTheMenuIsWarnedThenASingleColumnFileIsRead) {
  TempDir dir;
  Session session;
  std::string out = session.run(dir.write("a.dat", kTwoSingleColumns), "9\n\n3\n1\nF\n");
  EXPECT_EQ(out, kFormatMenu + "\n\n WARNING: You must enter a value between 0 and 7\n" +
                     kTryAgain + kFormatMenu + kRead + kTwoSeriesMenu + kViewQuestion);
  EXPECT_EQ(session.npts, 3);
  EXPECT_FLOAT_EQ(session.dt, 1.0f);
  EXPECT_EQ(session.title, "abscdef ");
  EXPECT_EQ(session.y, (std::vector<float>{0.1f, 0.2f, 0.3f}));
}

TEST(SetupDialogue, ViewListsTheSeriesAndFalseToOkChoosesAgainWithTheSameStep) {
  TempDir dir;
  Session session;
  std::string out = session.run(dir.write("a.dat", kTwoSingleColumns), "3\n2\nT\nF\n2\nt\n.true.\n");
  std::string listing = "\n   x       y       dt =   1.0000\n 1772.0 0.2\n 1773.0 0.4\n\n"
                        "  OK? [T]rue or [F]alse : ";
  EXPECT_EQ(out, kFormatMenu + kRead + kTwoSeriesMenu + kViewQuestion + listing + kTwoSeriesMenu +
                     kViewQuestion + listing);
  EXPECT_EQ(session.npts, 2);
  EXPECT_EQ(session.ireuse, 0);
}

TEST(SetupDialogue, SelectionOutsideTheTableIsWarnedWithItsNumber) {
  TempDir dir;
  std::vector<std::string> lines;
  for (int k = 1; k <= 10; ++k) lines.insert(lines.end(), {"series" + std::to_string(k), "1900", "1", "2"});
  Session session;
  std::string out = session.run(dir.write("ten.dat", lines), "3\n0\n\n11\n\n\n\n10\nF\n");
  std::string menu = kSelectionHead +
                     "    1) series1    2) series2    3) series3    4) series4    5) series5 \n"
                     "    6) series6    7) series7    8) series8    9) series9   10) series10\n" +
                     kSelectionRule + " Select a series to analyse [1- 10] : ";
  auto warning = [&](const char* number) {
    return "\n WARNING: " + std::string(number) + " is not a valid selection\n" + kTryAgain + menu;
  };
  EXPECT_EQ(out, kFormatMenu + kRead + menu + warning("  0") + warning(" 11") + warning("  0") +
                     kViewQuestion);
  EXPECT_EQ(session.title, "series10");
}

TEST(SetupDialogue, SevenSeriesFillTwoMenuRows) {
  TempDir dir;
  std::vector<std::string> lines;
  for (int k = 1; k <= 7; ++k) lines.insert(lines.end(), {"s" + std::to_string(k), "1", "1", "2"});
  Session session;
  std::string out = session.run(dir.write("seven.dat", lines), "3\n7\nF\n");
  EXPECT_NE(out.find(kSelectionHead +
                     "    1) s1         2) s2         3) s3         4) s4         5) s5      \n"
                     "    6) s6         7) s7      \n" + kSelectionRule),
            std::string::npos);
}

TEST(SetupDialogue, ReuseChoosesFromTheTableWithoutReadingTheFileAgain) {
  TempDir dir;
  std::string path = dir.write("a.dat", kTwoSingleColumns);
  Session session;
  session.run(path, "3\n1\nF\n");
  std::filesystem::remove(path);  // a second reading would fail
  session.ireuse = 1;
  EXPECT_EQ(session.run(path, "2\nF\n"), kTwoSeriesMenu + kViewQuestion);
  EXPECT_EQ(session.title, "bbscdef ");
  EXPECT_EQ(session.ireuse, 0);
}

TEST(SetupDialogue, TwoColumnPairsAreListedByTheirYHeaderAndStepByTheirMeanSpacing) {
  TempDir dir;
  Session session;
  std::string out = session.run(
      dir.write("two.dat", {"Age      Ti1 (%)", "798.60\t0.81", "804.70\t0.10", "816.90\t0.19",
                            "Age      Ti2 (%)", "798.60 0.40", "Age      Ti3 (%)", "1 2"}),
      "4\n0\n1\nT\nT\n");
  EXPECT_EQ(out, kFormatMenu + "\n\n Enter number of lines to skip from top of file : " + kRead.substr(1) +
                     kSelectionHead + "   1)  Ti1 (%)\n   2)  Ti2 (%)\n   3)  Ti3 (%)\n" +
                     kSelectionRule + " Select a series to analyse [1-  3] : " + kViewQuestion +
                     "\n   x       y       dt =   9.1500\n 798.6 0.81\n 804.7 0.1\n 816.9 0.19\n\n"
                     "  OK? [T]rue or [F]alse : ");
  EXPECT_NEAR(session.dt, 9.15f, 5e-5f);  // single-precision differences near 800
  EXPECT_EQ(session.title, " Ti1 (%)");
}

TEST(SetupDialogue, MultipleColumnsWithSentinelStar) {
  TempDir dir;
  Session session;
  std::string out = session.run(dir.write("m.dat", help_example_file(5, 1)), "5\n2\n6\n*\n2\nF\n");
  EXPECT_EQ(out, kFormatMenu + "\n\n Enter number of lines to skip from top of file : \n"
                     " Enter the total number of columns in your file\n"
                     " [Program assumes Col_1 contains the X values] : \n"
                     " Enter the sentinal value or character used to \n"
                     " pad the records [can not be spaces, if ******* enter *] : " +
                     kRead.substr(1) + kSelectionHead +
                     "    1) AB01       2) AB02       3) AB03       4) AB04       5) AB05    \n" +
                     kSelectionRule + " Select a series to analyse [1-  5] : " + kViewQuestion);
  EXPECT_EQ(session.npts, 12);  // 1946-1957
  EXPECT_FLOAT_EQ(session.y[0], 0.717f);
}

// Reader errors, too few columns and files without series: a message, then
// the format menu again.
TEST(SetupDialogue, FailedReadingsGoBackToTheFormatMenu) {
  struct Case {
    std::vector<std::string> file;
    std::string answers;
    std::string message;
  };
  const Case cases[] = {
      {{"year a b", "1950 1.0 abc"}, "5\n0\n3\n*\n\n",
       " Error reading ys values check sentinel if ******* enter *\n"},
      {{"a", "1771", "0.1", "bbscdef", "year?"}, "3\n\n",
       " Rd1col: Error reading series IYR value\n        Series: bbscdef  Number:     2\n"},
      {{"year", "1950"}, "5\n0\n1\n\n",
       " A file of multiple columns needs at least 2 columns: the X column and one series.\n"},
      {{"h", "1 (", "2 )"}, "7\n0\n(1x,i4,7x,f7.2\n\n", " missing ')' at position 15.\n"},
  };
  TempDir dir;
  for (const Case& c : cases) {
    Session session;
    std::string out = session.run(dir.write("bad.dat", c.file), c.answers);
    EXPECT_TRUE(session.ran_out);
    EXPECT_TRUE(ends_with(out, c.message + "\n Input data not read in successfully\n" + kTryAgain +
                                   kFormatMenu))
        << out;
  }
  Session session;
  EXPECT_EQ(session.run(dir.write("empty.dat", {}), "3\n\n"),
            kFormatMenu + "\n\n No series were found in the file.\n" + kTryAgain + kFormatMenu);
}

TEST(SetupDialogue, SeriesWithoutTwoValuesOrAForwardStepAreRefusedAtSelection) {
  TempDir dir;
  Session session;
  std::string out = session.run(
      dir.write("s.dat", {"one", "1900", "5.0", "none", "1900", "pair", "1900", "1", "2"}),
      "3\n1\n\n2\n\n3\nF\n");
  EXPECT_NE(out.find(" Select a series to analyse [1-  3] : \n"
                     " Series one has 1 value; at least 2 are needed.\n" + kTryAgain),
            std::string::npos);
  EXPECT_NE(out.find("\n Series none has 0 values; at least 2 are needed.\n"), std::string::npos);
  EXPECT_EQ(session.title, "pair    ");

  Session flat;
  out = flat.run(dir.write("two.dat", {"x       y", "5 1", "5 2"}), "4\n0\n1\n\n");
  EXPECT_NE(out.find(" Series y has a mean time step of 0.0; it must be positive.\n"),
            std::string::npos);
  EXPECT_EQ(flat.npts, -1);  // nothing was returned
  EXPECT_TRUE(flat.ran_out);
}

TEST(TimeStep, MonthlySeriesStepsByOneTwelfthOfAYear) {
  TempDir dir;
  std::vector<std::string> lines = {"header"};
  for (int year = 1901; year <= 1902; ++year) {
    std::string row = std::to_string(year);
    for (int m = 0; m < 12; ++m) row += " " + std::to_string(m);
    lines.push_back(row);
  }
  Session session;
  std::string out = session.run(dir.write("monthly.dat", lines), "6\n0\n12\n1\n1\nT\nT\n");
  EXPECT_EQ(session.npts, 24);
  EXPECT_NEAR(session.dt, 1.0f / 12.0f, 1e-5f);  // x near 1901 in single precision
  EXPECT_NE(out.find("dt =   0.0833\n 1901.0 0.0\n 1901.083 1.0\n"), std::string::npos);
  EXPECT_NE(out.find(" 1901.917 11.0\n 1902.0 0.0\n"), std::string::npos);
}

TEST(TimeStep, ExampleFilesOfTheRepository) {
  Session nino;
  nino.run(std::string(QUORVANE_SOURCE_DIR) + "/examples/nino12.tsf", "6\n3\n12\n0.01\n1\nF\n");
  EXPECT_EQ(nino.title, "Cell___1");
  EXPECT_EQ(nino.npts, 732);
  EXPECT_NEAR(nino.dt, 1.0f / 12.0f, 2e-5f);
  EXPECT_FLOAT_EQ(nino.y[0], 2311.0f * 0.01f);
  EXPECT_FLOAT_EQ(nino.y[731], 2207.0f * 0.01f);  // December 2010

  Session sunspots;
  sunspots.run(std::string(QUORVANE_SOURCE_DIR) + "/examples/sunspots.dat", "3\n1\nF\n");
  EXPECT_EQ(sunspots.npts, 309);  // 1700-2008
  EXPECT_FLOAT_EQ(sunspots.dt, 1.0f);
}

}  // namespace
}  // namespace quorvane::input
